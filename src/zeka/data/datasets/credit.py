"""The simulated credit-default table, raw and in two cleaned versions.

One table of loan applicants with a binary target "Default" is simulated with a
fixed seed and then deliberately damaged, so that the three versions show the
way from a raw extract to a model-ready table:

``credit_raw`` (3060 rows, 13 features + target) carries these problems:

- "Country" holds the single value "US";
- 60 rows are exact duplicates of other rows;
- "Income" is a text column: most values are numbers written as text, about 3%
  are words ("unknown", "refused", "not provided"), about 2% are missing;
- "MonthsEmployed" (about 4%) and "EmploymentType" (about 3%) have missing values;
- "Education" holds special-character-only values ("??", "###", "--", "*"),
  about 1.5% of the rows;
- "LoanPurpose" holds over-long free-text notes instead of a category, about 1%.

``credit_trim1`` (3000 rows, 12 features + target) removes the worst problems:
duplicates dropped, "Country" dropped, "Income" converted to numbers (the words
become missing). Missing values, special-character-only and over-long strings
remain.

``credit_trim2`` (3000 rows, 12 features + target) is clean and model-ready:
special-character-only and over-long values are treated as missing, numerical
gaps are filled with the column median and categorical gaps with the most
frequent category.
"""

import numpy as np
import pandas as pd

SEED = 20240501
N_ROWS = 3000
N_DUPLICATES = 60
TARGET = "Default"

EDUCATION = ["HighSchool", "Bachelor", "Master", "PhD"]
EMPLOYMENT = ["Salaried", "SelfEmployed", "Unemployed", "Retired"]
HOME = ["Rent", "Own", "Mortgage"]
PURPOSE = ["Car", "Home", "Education", "Business", "Personal"]

INCOME_WORDS = ["unknown", "refused", "not provided"]
SPECIAL_ONLY = ["??", "###", "--", "*"]
LONG_NOTES = [
    "Applicant asked to consolidate several outstanding credit card balances into one loan",
    "Funds requested for renovation of the kitchen and the bathroom of the family house",
    "Customer did not state a purpose; the branch officer added this note after the call",
]


def _clean_table(rng):
    """The undamaged table: 3000 applicants and their simulated default."""
    n = N_ROWS
    age = rng.integers(21, 71, size=n)
    income = np.round(rng.lognormal(np.log(55000), 0.5, size=n), -2)
    credit_score = np.clip(np.round(rng.normal(660, 80, size=n)), 300, 850).astype(int)
    loan_amount = np.round(rng.lognormal(np.log(15000), 0.6, size=n) / 50) * 50
    debt_ratio = np.round(rng.beta(2, 5, size=n) * 1.5, 3)
    months_employed = np.floor((age - 18) * 12 * rng.uniform(0, 0.9, size=n)).astype(int)
    dependents = rng.choice(5, size=n, p=[0.35, 0.25, 0.2, 0.12, 0.08])
    education = rng.choice(EDUCATION, size=n, p=[0.35, 0.4, 0.2, 0.05])
    employment = rng.choice(EMPLOYMENT, size=n, p=[0.65, 0.15, 0.08, 0.12])
    home = rng.choice(HOME, size=n, p=[0.4, 0.25, 0.35])
    purpose = rng.choice(PURPOSE, size=n)

    logit = (
        -1.6
        - 0.012 * (credit_score - 660)
        + 2.5 * (debt_ratio - 0.43)
        - 0.6 * np.log(income / 55000)
        + 0.4 * np.log(loan_amount / 15000)
        - 0.015 * (age - 45)
        + 0.1 * dependents
        + pd.Series(employment)
        .map({"Salaried": 0.0, "SelfEmployed": 0.3, "Unemployed": 1.0, "Retired": 0.2})
        .to_numpy()
        + pd.Series(education)
        .map({"HighSchool": 0.3, "Bachelor": 0.0, "Master": -0.2, "PhD": -0.3})
        .to_numpy()
        + pd.Series(home).map({"Rent": 0.2, "Own": -0.3, "Mortgage": 0.0}).to_numpy()
    )
    default = (rng.uniform(size=n) < 1 / (1 + np.exp(-logit))).astype(int)

    return pd.DataFrame(
        {
            "Age": age,
            "Income": income,
            "CreditScore": credit_score,
            "LoanAmount": loan_amount,
            "DebtRatio": debt_ratio,
            "MonthsEmployed": months_employed,
            "NumDependents": dependents,
            "Education": education,
            "EmploymentType": employment,
            "HomeOwnership": home,
            "LoanPurpose": purpose,
            TARGET: default,
        }
    )


def _pick(rng, n, share):
    """Distinct row positions, about `share` of `n`."""
    return rng.choice(n, size=int(round(n * share)), replace=False)


def credit_raw():
    """The raw table with its integrity problems (see the module docstring)."""
    rng = np.random.default_rng(SEED)
    clean = _clean_table(rng)
    n = len(clean)

    raw = clean.drop(columns=[TARGET])
    raw.insert(len(raw.columns), "Country", "US")
    # A raw extract: text columns are plain object columns, gaps are None.
    for column in ["Education", "EmploymentType", "HomeOwnership", "LoanPurpose", "Country"]:
        raw[column] = raw[column].astype(object)

    income = raw["Income"].map(lambda v: "{:.0f}".format(v)).astype(object)
    income.iloc[_pick(rng, n, 0.03)] = rng.choice(INCOME_WORDS, size=int(round(n * 0.03)))
    income.iloc[_pick(rng, n, 0.02)] = None
    raw["Income"] = income

    months = raw["MonthsEmployed"].astype(float)
    months.iloc[_pick(rng, n, 0.04)] = np.nan
    raw["MonthsEmployed"] = months

    employment = raw["EmploymentType"].copy()
    employment.iloc[_pick(rng, n, 0.03)] = None
    raw["EmploymentType"] = employment

    education = raw["Education"].copy()
    rows = _pick(rng, n, 0.015)
    education.iloc[rows] = rng.choice(SPECIAL_ONLY, size=len(rows))
    raw["Education"] = education

    purpose = raw["LoanPurpose"].copy()
    rows = _pick(rng, n, 0.01)
    purpose.iloc[rows] = rng.choice(LONG_NOTES, size=len(rows))
    raw["LoanPurpose"] = purpose

    raw[TARGET] = clean[TARGET]

    # Exact copies of complete rows, shuffled in among the originals.
    complete = np.flatnonzero(raw.notna().all(axis=1).to_numpy())
    copies = raw.iloc[rng.choice(complete, size=N_DUPLICATES, replace=False)]
    raw = pd.concat([raw, copies], ignore_index=True)
    return raw.iloc[rng.permutation(len(raw))].reset_index(drop=True)


def trim1(raw):
    """Duplicates and the single-valued column dropped, "Income" made numeric."""
    table = raw.drop_duplicates().drop(columns=["Country"]).reset_index(drop=True)
    table["Income"] = pd.to_numeric(table["Income"], errors="coerce")
    return table


def trim2(trimmed):
    """Odd strings treated as missing, then every gap imputed."""
    table = trimmed.copy()
    table["Education"] = table["Education"].where(table["Education"].isin(EDUCATION))
    table["LoanPurpose"] = table["LoanPurpose"].where(table["LoanPurpose"].isin(PURPOSE))
    for column in ["Income", "MonthsEmployed"]:
        table[column] = table[column].fillna(table[column].median())
    table["MonthsEmployed"] = table["MonthsEmployed"].round().astype(int)
    for column in ["Education", "EmploymentType", "LoanPurpose"]:
        mode = table[column].value_counts().sort_index().idxmax()
        table[column] = table[column].fillna(mode).astype(object)
    return table


def credit_trim1():
    return trim1(credit_raw())


def credit_trim2():
    return trim2(trim1(credit_raw()))
