"""The main job: ``make demo`` runs ``python -m zeka.demo``."""

from types import SimpleNamespace

from sklearn.datasets import load_diabetes

from zeka.config import estimator_settings, misc_settings


def main():
    data = load_diabetes(as_frame=True)
    dataset = SimpleNamespace(task_type="regression", feature_names=list(data.data.columns))
    print(f"Dataset: diabetes, {data.data.shape[0]} rows, features {dataset.feature_names}")
    print("Built-in datasets:", ", ".join(misc_settings.DATASET_NAMES))
    print("Regression metrics:", ", ".join(misc_settings.REG_METRICS))

    table = estimator_settings.model_param_specific(estimator_settings.model_param_items, dataset)
    print("Tree criterion for this task:", table["tree"]["criterion"][1])
    print("Monotonicity widget of xgb2:", table["xgb2"]["mono_increasing_list"][:2])
    for model, items in table.items():
        defaults = {key: entry[3] for key, entry in items.items()}
        print(f"  {estimator_settings.model_name_items[model]:<9} {defaults}")

    render = estimator_settings.param_render
    print("Widget text '1000, 500' as gaminet max_epochs:", render("gaminet", "max_epochs", "1000, 500"))
    print("Widget text '0,2' as xgb1 monotone features:",
          render("xgb1", "mono_increasing_list", "0,2", dataset.feature_names))


if __name__ == "__main__":
    main()
