"""The trained models' own views beside SHAP: every view of the best model's family,
one global view of every other trained family, and for an additive best model how far
SHAP's values for the explained row are from the model's own contributions."""

import numpy as np
import pandas as pd

from zeka.report import document as doc

# families whose raw output is a sum of one term per feature (plus interactions)
ADDITIVE = ("glm", "gam", "xgb1", "xgb2", "ebm", "gaminet")


def model_units(pipeline, names):
    """The standardisation of the numerical features over all features, or None."""
    from zeka.report.units import OriginalUnits

    try:
        prep = pipeline.preprocessing_.preprocessor_
        if prep.normalize_strategy != "unit_norm":
            return None
        positions = list(prep.nfeature_index_list)
        scaler = prep.ntransformer.named_steps["scaling"]
        if len(scaler.mean_) != len(positions):
            return None
    except (AttributeError, KeyError, TypeError):
        return None
    return OriginalUnits(names, positions, scaler)


def compute(pipeline, view, names, row=None):
    """One view of the pipeline's model over its training rows, in the features' units."""
    from zeka.interpret import LOCAL_VIEWS, explain, view_options

    x, y, _ = pipeline.get_data(train=True)
    X = pd.DataFrame(np.asarray(x, dtype=float), columns=names)
    options = {}
    if "units" in view_options(pipeline.estimator, view):
        units = model_units(pipeline, names)
        if units is not None:
            options["units"] = units
    return explain(
        pipeline.estimator,
        view,
        X,
        y=np.asarray(y),
        row=row if view in LOCAL_VIEWS else None,
        **options,
    )


def best_model_views(state, section, pipeline, names, row_values, shap_values):
    """Every view the best model's family lists; the local ones for the SHAP row."""
    from zeka.interpret import InapplicableView, supported
    from zeka.models import get_model_name

    family = get_model_name(pipeline.estimator)
    if family == "arbitrary":
        return None
    section.add(doc.heading("The best model's own views ({})".format(state.best_name)))
    blocks, missing, refused, local = [], [], [], None
    for view in supported(pipeline.estimator):
        try:
            result = compute(pipeline, view, names, row=row_values)
        except NotImplementedError:
            missing.append(view)
            continue
        except InapplicableView as error:
            refused.append("{}: {}".format(view, error))
            continue
        except Exception as error:  # one view failing does not take SHAP's section with it
            refused.append(
                "{} could not be computed ({}: {})".format(view, type(error).__name__, error)
            )
            continue
        if view == "local_fi":
            local = result
        blocks.append(render(result, view, state.best_name))
    for block in blocks:
        section.add(block)
    notes = []
    if missing:
        notes.append(
            "Views of this family not available in this installation: {}.".format(
                ", ".join(missing)
            )
        )
    notes.extend(refused)
    for note in notes:
        section.add(doc.paragraph(note, css_class="note"))
    if family in ADDITIVE and local is not None:
        return shap_against_own(section, local, names, shap_values)
    return None


def shap_against_own(section, local, names, shap_values):
    """A table of SHAP's value and the model's own contribution per feature for the
    explained row; returns the largest absolute difference, the sum of the absolute
    contributions and the rank correlation of the two."""
    data = local.data
    if "feature" in data.columns:  # the views of some families keep the names in a column
        data = data.set_index("feature")
    own = data["contribution"].reindex(names).to_numpy(dtype=float)
    shap_values = np.asarray(shap_values, dtype=float).ravel()
    if shap_values.shape != own.shape:
        return None
    difference = shap_values - own
    table = pd.DataFrame(
        {"SHAP value": shap_values, "own contribution": own, "difference": difference},
        index=names,
    )
    order = np.argsort(-np.abs(own), kind="stable")
    shown = table.iloc[order[:15]]
    section.add(
        doc.table(
            doc.hide_index_names(shown.style.format("{:.4f}")),
            caption="The explained row: SHAP's value and the model's own (centred) "
            "contribution of each feature, largest contributions first.",
            compact=True,
        )
    )
    return {
        "largest": float(np.max(np.abs(difference))),
        "spread": float(np.sum(np.abs(own))),
        "rank_correlation": float(table["SHAP value"].corr(table["own contribution"], "spearman")),
    }


def other_families(state, section, names):
    """The global view ("global_fi" or the nearest) of every other trained family."""
    from zeka.interpret import LOCAL_VIEWS, InapplicableView, supported
    from zeka.models import get_model_name

    blocks = []
    for name, pipeline in state.api.custom_model_dict.items():
        if name == state.best_name or get_model_name(pipeline.estimator) == "arbitrary":
            continue
        views = supported(pipeline.estimator)
        # a one-figure summary first (the weight-of-evidence grid is a figure per
        # feature), then the family's other global views in the table's order
        summaries = [v for v in SUMMARY_VIEWS if v in views]
        candidates = summaries + [v for v in views if v not in LOCAL_VIEWS and v not in summaries]
        for view in candidates:
            try:
                result = compute(pipeline, view, names)
            except (NotImplementedError, InapplicableView):
                continue
            except Exception:  # a failing view: the family's next global view stands in
                continue
            blocks.append(render(result, view, name))
            break
    if blocks:
        section.add(doc.heading("The other trained models, each by its own global view"))
        section.add(doc.figures(blocks))
    return len(blocks)


SUMMARY_VIEWS = ("global_fi", "xgb1_iv")

CAPTIONS = {
    "global_fi": "feature importance: the mean absolute contribution over the training rows",
    "local_fi": "the explained test row, by the model's own contributions",
    "glm_coef_table": "coefficients per unit of each feature",
    "glm_coef_plot": "coefficients with 95% intervals",
    "tree_global": "the fitted tree: its splits, the training rows reaching each node, "
    "and the prediction there",
    "tree_local": "the explained test row's decision path: the change of prediction at each split",
    "figs_heatmap": "each tree's contribution to every training row",
    "xgb1_woe": "weight of evidence per bin of the model's cut points",
    "xgb1_iv": "information value per feature",
}


def render(result, view, model_name):
    caption = "{}: {}.".format(model_name, CAPTIONS.get(view, view.replace("_", " ")))
    if result.note:
        caption += " " + result.note
    if view == "glm_coef_table":
        return doc.table(
            doc.hide_index_names(result.data.style.format("{:.4g}")),
            caption=caption,
            compact=True,
        )
    return doc.figure(result.figure(), alt="{} {}".format(model_name, view), caption=caption)
