"""Views of the generalised linear model ("glm").

"global_fi": the mean absolute contribution of each feature over ``X`` (the training
rows), where a row's contribution of feature j is ``coef_j * (x_j - mean_j)``; for a
linear model these are the row's exact interventional SHAP values with ``X`` as the
background. "local_fi": those contributions for one row, with ``base`` the model's
output at the mean row, so that base plus the contributions is the raw output.

"glm_coef_table" and "glm_coef_plot": coefficient, standard error, test statistic,
p-value and 95% interval of every term, in the units of the features as the model was
fitted on them. Unpenalized regression gives the ordinary (weighted) least-squares
table: residual variance on n - p - 1 degrees of freedom, t tests. Wherever a penalty
or prior is in force (any positive ``l1_regularization`` or ``l2_regularization``; the
classifier's weak prior when both are zero), the penalty is read as a prior on the
coefficients and the standard errors are posterior standard deviations: the square
roots of the diagonal of the inverse Hessian of the penalized objective at the fitted
coefficients (for regression, times the residual variance, whose degrees of freedom
are n minus the effective number of parameters, the trace of the hat matrix). The L1
penalty, which has no curvature, enters through its local quadratic approximation
``l1 * b**2 / (2 |b_j|)`` at the fitted value; a coefficient it sets to zero gets no
standard error. Classifiers get z tests and normal intervals.
"""

import textwrap

import numpy as np
import pandas as pd
from scipy import stats
from sklearn.base import is_classifier

from ._core import (
    Interpretation,
    contribution_frame,
    draw_contributions,
    draw_importance,
    format_number,
    importance_frame,
    output_label,
    register,
)


def _coefficients(estimator):
    return float(np.ravel(estimator.intercept_)[0]), np.ravel(estimator.coef_).astype(float)


def _centre(X, weights):
    return np.average(X.to_numpy(), axis=0, weights=weights)


OPTIONS = ("sample_weight", "units")


@register("global_fi", "glm", options=OPTIONS)
def global_fi(estimator, X, y, row, sample_weight=None, units=None):
    _, coef = _coefficients(estimator)
    values = X.to_numpy()
    contributions = (values - _centre(X, sample_weight)) * coef
    frame = importance_frame(X.columns, contributions, sample_weight)
    per_unit = coef if units is None else coef / units.scale
    frame.insert(0, "coefficient", pd.Series(per_unit, index=X.columns)[frame.index])

    def draw(figure, interpretation):
        draw_importance(
            figure,
            interpretation,
            "mean |coefficient x (value - mean)|, in the %s" % output_label(estimator),
            "GLM feature importance over %d rows" % len(X),
        )

    return Interpretation("global_fi", frame, draw)


@register("local_fi", "glm", options=OPTIONS)
def local_fi(estimator, X, y, row, sample_weight=None, units=None):
    intercept, coef = _coefficients(estimator)
    mean = _centre(X, sample_weight)
    contributions = coef * (row.to_numpy(dtype=float) - mean)
    base = intercept + float(coef @ mean)
    frame = contribution_frame(row, contributions, units)

    def draw(figure, interpretation):
        draw_contributions(
            figure,
            interpretation,
            "contribution to the %s" % output_label(estimator),
            "GLM: coefficient x (value - mean) per feature",
        )

    return Interpretation("local_fi", frame, draw, base=base)


def coefficient_table(estimator, X, y, sample_weight=None, units=None):
    """The table of "glm_coef_table" and a note on what its standard errors mean."""
    intercept, coef = _coefficients(estimator)
    values = X.to_numpy()
    n, p = values.shape
    w = np.ones(n) if sample_weight is None else np.asarray(sample_weight, dtype=float)
    total = w.sum()
    design = np.column_stack([np.ones(n), values])
    beta = np.concatenate([[intercept], coef])
    eta = design @ beta
    l1 = float(estimator.l1_regularization)
    l2 = float(estimator.l2_regularization)
    classifier = is_classifier(estimator)
    if classifier:
        mu = 1.0 / (1.0 + np.exp(-eta))
        curvature = w * mu * (1.0 - mu)
    else:
        if y is None:
            raise ValueError(
                "the coefficient table of a regressor needs y, the target of X's rows, "
                "for the residual variance: pass y="
            )
        residual = np.asarray(y, dtype=float) - eta
        curvature = w
    data_hessian = (design * curvature[:, None]).T @ design

    # terms the data can say nothing about: features constant over X
    estimable = np.ones(p + 1, bool)
    estimable[1:] = np.ptp(values, axis=0) > 0
    penalty = np.zeros(p + 1)
    notes = []
    if classifier and l1 == 0 and l2 == 0:
        mean = np.average(values, axis=0, weights=w)
        penalty[1:] = np.average((values - mean) ** 2, axis=0, weights=w)
        notes.append(
            "The classifier's weak prior is in force (a standard normal prior on each "
            "coefficient times its feature's standard deviation): standard errors are "
            "posterior standard deviations, from the inverse Hessian of the log-loss plus "
            "that prior."
        )
    else:
        if l2 > 0:
            penalty[1:] += total * l2
        if l1 > 0:
            active = coef != 0
            penalty[1:][active] += total * l1 / np.abs(coef[active])
            estimable[1:] &= active
        if l1 > 0 or l2 > 0:
            notes.append(
                "A penalty is in force (l1_regularization=%s, l2_regularization=%s), read as "
                "a prior on the coefficients: standard errors are posterior standard "
                "deviations, from the inverse Hessian of the penalized objective%s; "
                "intervals are 95%% credible intervals."
                % (
                    format_number(l1),
                    format_number(l2),
                    " (the L1 term by its local quadratic approximation; coefficients it "
                    "sets to zero get none)"
                    if l1 > 0
                    else "",
                )
            )
    keep = np.flatnonzero(estimable)
    hessian = data_hessian[np.ix_(keep, keep)] + np.diag(penalty[keep])
    inverse = np.linalg.pinv(hessian)
    covariance = np.full((p + 1, p + 1), np.nan)
    if classifier:
        covariance[np.ix_(keep, keep)] = inverse
        dof = None
    else:
        effective = float(np.trace(inverse @ data_hessian[np.ix_(keep, keep)]))
        dof = n - effective
        if dof > 1e-9:
            scale = float(w @ residual**2) / dof
            covariance[np.ix_(keep, keep)] = scale * inverse
        else:
            notes.append(
                "%d rows leave no residual degrees of freedom for %d parameters: the "
                "standard errors are undefined." % (n, len(keep))
            )
        if l1 == 0 and l2 == 0:
            notes.insert(
                0,
                "Ordinary %sleast squares: residual variance on n - p - 1 = %s degrees of "
                "freedom, t tests, 95%% confidence intervals."
                % ("weighted " if sample_weight is not None else "", format_number(dof)),
            )
    fixed = [X.columns[j] for j in np.flatnonzero(np.ptp(values, axis=0) == 0)]
    if fixed:
        notes.append("Constant over the rows, so without a standard error: %s." % ", ".join(fixed))
    if units is not None:
        # the same model with coefficients per original unit: an affine change of
        # parameters, under which the covariance transforms with its Jacobian
        jacobian = np.eye(p + 1)
        jacobian[0, 1:] = -units.mean / units.scale
        jacobian[1:, 1:] = np.diag(1.0 / units.scale)
        unknown = np.isnan(np.diag(covariance))
        beta = jacobian @ beta
        covariance = jacobian @ np.nan_to_num(covariance) @ jacobian.T
        covariance[unknown, :] = covariance[:, unknown] = np.nan
        if unknown.all():
            covariance[:] = np.nan
    error = np.sqrt(np.diag(covariance))
    with np.errstate(divide="ignore", invalid="ignore"):
        statistic = beta / error
    if classifier:
        name = "z"
        p_value = 2.0 * stats.norm.sf(np.abs(statistic))
        quantile = stats.norm.ppf(0.975)
    else:
        name = "t"
        safe = dof if dof > 1e-9 else np.nan
        p_value = 2.0 * stats.t.sf(np.abs(statistic), safe)
        quantile = stats.t.ppf(0.975, safe)
    table = pd.DataFrame(
        {
            "coefficient": beta,
            "std_error": error,
            name: statistic,
            "p_value": p_value,
            "ci_lower": beta - quantile * error,
            "ci_upper": beta + quantile * error,
        },
        index=["intercept"] + list(X.columns),
    )
    table.index.name = "term"
    return table, " ".join(notes)


@register("glm_coef_table", "glm", options=OPTIONS)
def glm_coef_table(estimator, X, y, row, sample_weight=None, units=None):
    table, note = coefficient_table(estimator, X, y, sample_weight, units)
    return Interpretation("glm_coef_table", table, _draw_table, note=note)


@register("glm_coef_plot", "glm", options=OPTIONS)
def glm_coef_plot(estimator, X, y, row, sample_weight=None, units=None):
    table, note = coefficient_table(estimator, X, y, sample_weight, units)
    # the spread of each feature, so that the plot can also show the coefficients per
    # standard deviation, comparable across features of different units
    spread = np.sqrt(
        np.average((X.to_numpy() - _centre(X, sample_weight)) ** 2, axis=0, weights=sample_weight)
    )
    if units is not None:
        spread = spread * units.scale
    table["feature_sd"] = np.concatenate([[np.nan], spread])

    def draw(figure, interpretation):
        _draw_coefficients(figure, interpretation, output_label(estimator))

    return Interpretation("glm_coef_plot", table, draw, note=note)


def _draw_coefficients(figure, interpretation, output):
    table = interpretation.data.drop(index="intercept")
    order = np.argsort(np.abs(table["coefficient"] * table["feature_sd"]).to_numpy(), kind="stable")
    table = table.iloc[order]
    figure.set_size_inches(10, 0.3 * len(table) + 2.2)
    axes = figure.subplots(1, 2, sharey=True)
    y = np.arange(len(table))
    significant = ((table["ci_lower"] > 0) | (table["ci_upper"] < 0)).to_numpy()
    colours = np.where(significant, "#c0392b", "#2f5d9a")
    for ax, factor, label in (
        (axes[0], np.ones(len(table)), "per unit of the feature"),
        (axes[1], table["feature_sd"].to_numpy(), "per standard deviation of the feature"),
    ):
        coef = table["coefficient"].to_numpy() * factor
        lower = coef - table["ci_lower"].to_numpy() * factor
        upper = table["ci_upper"].to_numpy() * factor - coef
        ax.errorbar(
            coef,
            y,
            xerr=np.vstack([np.nan_to_num(lower), np.nan_to_num(upper)]),
            fmt="none",
            ecolor="#7f8c8d",
            elinewidth=1.2,
            capsize=3,
        )
        ax.scatter(coef, y, color=colours, zorder=3, s=22)
        ax.axvline(0.0, color="black", linewidth=0.8)
        ax.set_xlabel("change in the %s\n%s" % (output, label), fontsize=9)
        ax.grid(axis="x", alpha=0.3)
    axes[0].set_yticks(y)
    axes[0].set_yticklabels([str(name) for name in table.index], fontsize=8)
    figure.suptitle(
        "GLM coefficients with 95% intervals (red: the interval excludes 0)", fontsize=10
    )
    if interpretation.note:
        figure.supxlabel(textwrap.fill(interpretation.note, 150), fontsize=7, color="#555555")


def _draw_table(figure, interpretation):
    table = interpretation.data
    shown = table.apply(lambda column: column.map(format_number))
    figure.set_size_inches(8, 0.26 * len(table) + 1.4)
    ax = figure.subplots()
    ax.axis("off")
    grid = ax.table(
        cellText=shown.to_numpy(),
        rowLabels=[str(name) for name in table.index],
        colLabels=list(table.columns),
        loc="center",
    )
    grid.auto_set_font_size(False)
    grid.set_fontsize(8)
    grid.scale(1, 1.15)
    if interpretation.note:
        figure.supxlabel(textwrap.fill(interpretation.note, 120), fontsize=7, color="#555555")
