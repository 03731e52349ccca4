"""GLM views against statsmodels, exact SHAP values and the penalized objective's Hessian."""

import numpy as np
import pandas as pd
import pytest
import shap
import statsmodels.api as sm

from zeka.interpret import explain
from zeka.models import GLMClassifier, GLMRegressor


def data(n=120, p=4, seed=0):
    rng = np.random.default_rng(seed)
    X = pd.DataFrame(
        rng.normal(size=(n, p)) * [1.0, 3.0, 0.5, 2.0][:p] + 5.0,
        columns=["age", "income", "ratio", "score"][:p],
    )
    eta = (X - X.mean()).to_numpy() @ np.array([0.5, 0.2, 1.5, -0.3][:p])
    return X, eta + rng.normal(size=n), rng


COLUMNS = ["coefficient", "std_error", "t", "p_value", "ci_lower", "ci_upper"]


@pytest.mark.parametrize("weighted", [False, True])
def test_unpenalized_regressor_table_equals_statsmodels(weighted):
    X, y, rng = data()
    w = rng.uniform(0.5, 3.0, len(y)) if weighted else None
    model = GLMRegressor().fit(X, y, sample_weight=w)
    table = explain(model, "glm_coef_table", X, y=y, sample_weight=w).data
    design = sm.add_constant(X)
    fit = (sm.WLS(y, design, weights=w) if weighted else sm.OLS(y, design)).fit()
    reference = pd.DataFrame(
        {
            "coefficient": fit.params.to_numpy(),
            "std_error": fit.bse.to_numpy(),
            "t": fit.tvalues.to_numpy(),
            "p_value": fit.pvalues.to_numpy(),
            "ci_lower": fit.conf_int()[0].to_numpy(),
            "ci_upper": fit.conf_int()[1].to_numpy(),
        }
    )
    assert list(table.columns) == COLUMNS
    assert list(table.index) == ["intercept"] + list(X.columns)
    np.testing.assert_allclose(table.to_numpy(), reference.to_numpy(), rtol=1e-8, atol=1e-10)
    plot = explain(model, "glm_coef_plot", X, y=y, sample_weight=w)
    pd.testing.assert_frame_equal(plot.data[COLUMNS], table)
    sd = np.sqrt(np.average((X - np.average(X, axis=0, weights=w)) ** 2, axis=0, weights=w))
    np.testing.assert_allclose(plot.data["feature_sd"].iloc[1:], sd, rtol=1e-12)


def numeric_hessian(f, x, step=1e-4):
    k = len(x)
    H = np.zeros((k, k))
    for i in range(k):
        for j in range(k):
            e_i, e_j = np.eye(k)[i] * step, np.eye(k)[j] * step
            H[i, j] = (
                f(x + e_i + e_j) - f(x + e_i - e_j) - f(x - e_i + e_j) + f(x - e_i - e_j)
            ) / (4 * step * step)
    return H


@pytest.mark.parametrize("l2", [0.0, 0.05])
def test_classifier_standard_errors_invert_the_penalized_hessian(l2):
    X, eta, rng = data(n=200, seed=1)
    y = (rng.random(len(eta)) < 1 / (1 + np.exp(-eta))).astype(int)
    model = GLMClassifier(l2_regularization=l2).fit(X, y)
    table = explain(model, "glm_coef_table", X).data
    D = np.column_stack([np.ones(len(X)), X.to_numpy()])
    sd2 = X.to_numpy().var(axis=0)

    def objective(beta):  # the summed log-loss plus the prior the penalty stands for
        z = D @ beta
        loss = np.sum(np.logaddexp(0, z) - y * z)
        if l2 == 0:
            return loss + 0.5 * np.sum(sd2 * beta[1:] ** 2)
        return loss + 0.5 * len(y) * l2 * np.sum(beta[1:] ** 2)

    beta = table["coefficient"].to_numpy()
    errors = np.sqrt(np.diag(np.linalg.inv(numeric_hessian(objective, beta))))
    np.testing.assert_allclose(table["std_error"], errors, rtol=1e-5)
    assert "z" in table and "prior" in explain(model, "glm_coef_table", X).note
    np.testing.assert_allclose(
        table["ci_upper"] - table["coefficient"], 1.959964 * errors, rtol=1e-5
    )


def test_ridge_regressor_errors_are_posterior_and_shrink_to_ols():
    X, y, _ = data(seed=2)
    ols = explain(GLMRegressor().fit(X, y), "glm_coef_table", X, y=y).data
    tiny = explain(GLMRegressor(l2_regularization=1e-9).fit(X, y), "glm_coef_table", X, y=y)
    np.testing.assert_allclose(tiny.data["std_error"], ols["std_error"], rtol=1e-5)
    assert "posterior" in tiny.note
    model = GLMRegressor(l2_regularization=0.5).fit(X, y)
    view = explain(model, "glm_coef_table", X, y=y)
    D = np.column_stack([np.ones(len(X)), X.to_numpy()])
    P = np.diag([0.0] + [len(y) * 0.5] * X.shape[1])
    A = D.T @ D + P
    hat = np.trace(np.linalg.solve(A, D.T @ D))
    residual = y - model.predict(X)
    sigma2 = residual @ residual / (len(y) - hat)
    np.testing.assert_allclose(
        view.data["std_error"], np.sqrt(np.diag(sigma2 * np.linalg.inv(A))), rtol=1e-9
    )


def test_lasso_zeroes_get_no_standard_error():
    X, y, _ = data(seed=3)
    X["noise"] = np.random.default_rng(9).normal(size=len(X))
    model = GLMRegressor(l1_regularization=0.3).fit(X, y)
    table = explain(model, "glm_coef_table", X, y=y).data
    zero = np.ravel(model.coef_) == 0
    assert zero.any() and not zero.all()
    assert table["std_error"].iloc[1:][zero].isna().all()
    assert table["std_error"].iloc[1:][~zero].notna().all()


@pytest.mark.parametrize("cls", [GLMRegressor, GLMClassifier])
def test_contributions_are_exact_shap_values(cls):
    X, eta, rng = data(n=40, seed=4)
    y = eta if cls is GLMRegressor else (eta > 0).astype(int)
    model = cls().fit(X, y)
    raw = model.predict if cls is GLMRegressor else model.decision_function
    explainer = shap.explainers.Exact(raw, shap.maskers.Independent(X, max_samples=len(X)))
    values = explainer(X).values
    for r in (0, 7, 39):
        view = explain(model, "local_fi", X, row=r)
        np.testing.assert_allclose(view.data["contribution"], values[r], atol=1e-9)
        assert view.data["contribution"].sum() + view.base == pytest.approx(
            raw(X.iloc[[r]])[0], abs=1e-9
        )
        np.testing.assert_array_equal(view.data["value"], X.iloc[r].to_numpy())
    importance = explain(model, "global_fi", X).data
    np.testing.assert_allclose(
        importance.loc[list(X.columns), "importance"], np.abs(values).mean(axis=0), atol=1e-9
    )
    assert importance["share"].sum() == pytest.approx(1.0)
    assert importance["importance"].is_monotonic_decreasing


def test_one_row_and_constant_features():
    X, y, _ = data(seed=5)
    X["flat"] = 2.0
    model = GLMRegressor().fit(X, y)
    view = explain(model, "glm_coef_table", X, y=y)
    assert np.isnan(view.data.loc["flat", "std_error"]) and "flat" in view.note
    fit = sm.OLS(y, sm.add_constant(X.drop(columns="flat"))).fit()
    np.testing.assert_allclose(view.data["std_error"].drop("flat"), fit.bse, rtol=1e-8)
    single = GLMRegressor().fit(X.iloc[:1], y[:1])
    view = explain(single, "glm_coef_table", X.iloc[:1], y=y[:1])
    assert view.data["std_error"].isna().all() and "degrees of freedom" in view.note
    local = explain(single, "local_fi", X.iloc[:1], row=0)
    assert local.data["contribution"].sum() + local.base == pytest.approx(
        single.predict(X.iloc[:1])[0]
    )


def test_regressor_table_needs_y():
    X, y, _ = data()
    with pytest.raises(ValueError, match="needs y"):
        explain(GLMRegressor().fit(X, y), "glm_coef_table", X)


def test_units_give_the_table_of_the_original_features():
    from sklearn.preprocessing import StandardScaler

    X, y, _ = data(seed=6)
    scaler = StandardScaler().fit(X)
    Xs = pd.DataFrame(scaler.transform(X), columns=X.columns)
    model = GLMRegressor().fit(Xs, y)
    table = explain(model, "glm_coef_table", Xs, y=y, units=scaler).data
    fit = sm.OLS(y, sm.add_constant(X)).fit()
    np.testing.assert_allclose(table["coefficient"], fit.params, rtol=1e-8)
    np.testing.assert_allclose(table["std_error"], fit.bse, rtol=1e-8)
    np.testing.assert_allclose(table["p_value"], fit.pvalues, rtol=1e-6)
    local = explain(model, "local_fi", Xs, row=3, units=scaler).data
    np.testing.assert_allclose(local["value"], X.iloc[3], rtol=1e-12)
    plain = explain(model, "local_fi", Xs, row=3).data
    np.testing.assert_array_equal(local["contribution"], plain["contribution"])
