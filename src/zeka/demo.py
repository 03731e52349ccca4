"""The main job (``make demo``): train, register and rank models on a built-in dataset.

``python -m zeka.demo [DATASET] [RANK_METRIC]``; by default the clean credit
table, ranked by AUC.
"""

import copy
import sys
import time

import pandas as pd
from sklearn.ensemble import RandomForestClassifier, RandomForestRegressor

from zeka.config.estimator_settings import model_param_items, model_param_specific
from zeka.data.dataset import Dataset
from zeka.workflow.workbench import ModelAPI

MODELS = ["glm", "gam", "tree", "figs", "xgb1", "xgb2", "ebm", "gaminet", "reludnn"]


def external_model(dataset):
    """A scikit-learn model trained outside zeka on the dataset's training split."""
    x, y, w = dataset.get_data(train=True)
    forest = RandomForestRegressor if dataset.task_type == "regression" else RandomForestClassifier
    return forest(n_estimators=200, min_samples_leaf=5, random_state=0, n_jobs=-1).fit(
        x, y, sample_weight=w)


def main(argv):
    name = argv[0] if argv else "SimuCredit_trim2"
    dataset = Dataset.load(name)
    rank_metric = argv[1] if len(argv) > 1 else ("AUC" if dataset.task_type == "classification"
                                                 else "MSE")
    print(f"Dataset {name}: {dataset.task_type}, {len(dataset.feature_names)} features, "
          f"metrics {', '.join(dataset.scoring)}")

    table = model_param_specific(copy.deepcopy(model_param_items), dataset)
    api = ModelAPI(dataset, model_list=MODELS, model_item=table)
    started = time.perf_counter()
    for model_name, pipeline in api.model_dict.items():
        api.singlerun(pipeline, model_name)
        record = api.training_record[model_name]
        print(f"  trained {model_name:<8} in {record['fit_time']:6.2f} s, "
              f"test {rank_metric} {record['test_' + rank_metric]:.4f}", flush=True)

    forest = external_model(dataset)
    api.register_model(api.make_pipeline(forest), name="RandomForest")
    print(f"  registered RandomForest (trained outside zeka); "
          f"all models in {time.perf_counter() - started:.1f} s")

    with pd.option_context("display.width", 200, "display.max_columns", 30):
        print(f"\nLeaderboard of trained models, ranked by {rank_metric}:")
        print(api.get_leaderboard(rank_metric=rank_metric))
        print(f"\nRegistered models, ranked by {rank_metric}:")
        print(api.get_leaderboard_registered(rank_metric=rank_metric))


if __name__ == "__main__":
    main(sys.argv[1:])
