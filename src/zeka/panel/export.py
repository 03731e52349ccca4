"""What the panel did, as an HTML report and as a Python script that does it again."""

import time

from zeka.report import document as doc


def reproducing_code(panel):
    """Python that prepares the table and trains the chosen families with the values
    that their widgets give now (those that the conversion accepts)."""
    from zeka.panel.parameters import read

    families = panel.chosen_families()
    builtin = isinstance(panel.name, str) and panel.name != "the data frame"
    lines = [
        "import copy",
        "",
        "from zeka.config.estimator_settings import model_param_items, model_param_specific",
        "from zeka.data.dataset import Dataset" + (", load_frame" if builtin else ""),
        "from zeka.report.inputs import Source, prepare",
        "from zeka.workflow.workbench import ModelAPI",
        "",
    ]
    if builtin:
        lines.append("frame = load_frame({!r})".format(panel.name))
    else:
        lines += [
            "import pandas as pd",
            "",
            'frame = pd.read_csv("your-data.csv")  # the table the panel was opened on',
        ]
    lines += [
        "target = {!r}".format(panel.target),
        "prep = prepare(Source(frame, target, {!r}, {!r}))".format(str(panel.name), panel.task),
        "dataset = Dataset(",
        "    prep.frame,",
        "    target,",
        "    task_type={!r},".format(panel.task),
        "    test_ratio={!r},".format(panel.test_ratio),
        "    random_state={!r},".format(panel.seed),
        "    normalize={!r},".format(panel.normalize),
        "    name={!r},".format(str(panel.name)),
        ")",
        "table = model_param_specific(copy.deepcopy(model_param_items), dataset)",
    ]
    skipped = []
    for family in families:
        try:
            values = read(
                family, panel.parameter_table[family], panel.widgets[family], panel.feature_names
            )
        except ValueError as error:
            skipped.append("# {} is left out: {}".format(family, error))
            continue
        for key, entry in panel.parameter_table[family].items():
            if entry[0] and values[key] != entry[3]:
                lines.append("table[{!r}][{!r}][3] = {!r}".format(family, key, values[key]))
    kept = [f for f in families if not any(s.startswith("# {} ".format(f)) for s in skipped)]
    lines += skipped
    lines += [
        "api = ModelAPI(",
        "    dataset,",
        "    model_list={!r},".format(kept),
        "    model_item=table,",
        ")",
        "for name, pipeline in api.model_dict.items():",
        "    api.singlerun(pipeline, name)",
        "print(api.get_leaderboard(rank_metric={!r}))".format(panel.train_tab.sort.value),
        "",
    ]
    return "\n".join(lines)


def report_html(panel):
    """The report's document over what was done in the panel; steps not run are left out."""
    from zeka.config.estimator_settings import model_name_items
    from zeka.report.steps import integrity, models, outliers, preparation

    sections = []
    findings = {}

    class _State:  # what the report's readings read of the road
        pass

    state = _State()
    state.source = type("S", (), {"frame": panel.frame, "target": panel.target})()
    state.findings = findings
    state.dataset = panel.dataset
    if panel.checks is not None:
        section = doc.Section("integrity", "Data integrity")
        checks = panel.checks
        section.add(doc.heading("Column by column"))
        section.add(integrity.column_table(checks["single_column"]))
        section.add(doc.heading("Duplicated rows"))
        section.add(integrity.duplicates_block(checks["duplicated"]))
        section.add(doc.heading("Association between columns"))
        for block in integrity.association_blocks(checks["association"], checks["meta_info"]):
            section.add(block)
        section.reading = integrity.reading(
            state,
            checks["single_column"].data,
            checks["duplicated"],
            checks["association"].data,
        )
        sections.append(section)
    if panel.prep is not None:
        section = doc.Section("preparation", "Preparation")
        section.add(
            doc.table(
                doc.hide_index_names(
                    preparation.rows_table(panel.prep, panel.dataset).style.format(escape="html")
                )
            )
        )
        table = preparation.columns_table(panel.frame, panel.prep, panel.dataset)
        section.add(
            doc.table(
                doc.hide_index_names(
                    table.style.format(escape="html").format("{:.1%}", subset=["Missing"])
                )
            )
        )
        section.reading = preparation.reading(panel.prep, panel.dataset)
        sections.append(section)
    if panel.feature_scores is not None:
        section = doc.Section("features", "Feature scores")
        result = panel.feature_scores
        section.add(
            doc.table(
                result["table"].style.format(escape="html").format("{:.4f}", subset=["score"])
            )
        )
        section.reading = (
            "Feature scores by {} (threshold {}); the marks show the selected "
            "features with their rank.".format(result["method"], result["threshold"])
        )
        sections.append(section)
    if panel.outlier_scores is not None:
        section = doc.Section("outliers", "Outliers")
        scores = panel.outlier_scores
        top = outliers.most_outlying_rows(panel.dataset, scores)
        section.add(doc.table(top.style.format(precision=3, escape="html"), compact=True))
        section.add(doc.figure(outliers.score_histogram(scores), alt="Histogram of outlier scores"))
        parameters = panel.outliers_tab.detector_parameters()
        section.reading = (
            "A one-class SVM ({}) on the {} training rows: {} rows lie outside its support.".format(
                ", ".join("{}={!r}".format(k, v) for k, v in parameters.items()),
                len(scores),
                int((scores > 0).sum()),
            )
        )
        sections.append(section)
    if panel.leaderboard is not None:
        section = doc.Section("models", "Models")
        board = panel.leaderboard
        metric = panel.train_tab.sort.value
        shown = board.set_index("Model")
        shown.columns.name = "Model"
        section.add(doc.table(doc.hide_index_names(shown.style.format(escape="html"))))
        section.add(doc.figure(models.leaderboard_figure(board, metric), alt="Leaderboard"))
        section.add(doc.heading("Parameters the models were trained with"))
        for family, values in panel.parameters_used.items():
            section.add(
                doc.paragraph(
                    "{}: {}".format(
                        model_name_items.get(family, family),
                        ", ".join("{}={!r}".format(k, v) for k, v in values.items()),
                    )
                )
            )
        if panel.failures:
            section.add(
                doc.paragraph(
                    "Not trained: "
                    + "; ".join("{} ({})".format(k, v) for k, v in panel.failures.items()),
                    "note",
                )
            )
        section.reading = "{} famil{} trained; ranked by the test {}, {} comes first.".format(
            len(board), "ies were" if len(board) != 1 else "y was", metric, board["Model"].iloc[0]
        )
        sections.append(section)
    if panel.shap_figure is not None:
        family, plot, _ = panel.shap_result
        section = doc.Section("explanation", "Explanation")
        import base64

        section.add(
            '<figure><img alt="SHAP {} plot" src="data:image/png;base64,{}"></figure>'.format(
                plot, base64.b64encode(panel.shap_figure).decode("ascii")
            )
        )
        section.reading = "The SHAP {} plot of {}.".format(plot, family)
        sections.append(section)
    title = "zeka report: {}".format(panel.name)
    meta = "{} rows x {} columns as given; target {!r} ({}); seed {}; made in the panel {}.".format(
        panel.frame.shape[0],
        panel.frame.shape[1],
        panel.target,
        panel.task_type,
        panel.seed,
        time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
    )
    footer = doc.paragraph(
        "Reproduce the models with this script:", "note"
    ) + "<pre>{}</pre>".format(doc.escape(reproducing_code(panel)))
    return doc.render(title, meta, doc.glance([]), sections, footer)
