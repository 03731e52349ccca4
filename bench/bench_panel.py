"""Training the nine families from the notebook panel against the same ModelAPI calls
in a script, on the default dataset (SimuCredit_raw), in the same run.

The panel reads its widgets, converts the values, trains through ModelAPI with its
progress shown per family and builds the leaderboard; the script builds the same
parameter table and calls ``ModelAPI`` and ``singlerun`` itself. Both start from the
same prepared dataset. Prints the wall-clock seconds of each (best and median of the
repeats, alternating the two) and the ratio panel / script; the target is 1.1 at most.

    python bench/bench_panel.py [--dataset NAME] [--repeat R]
"""

import argparse
import copy
import statistics
import time
import warnings

import zeka
from zeka.config.estimator_settings import model_param_items, model_param_specific
from zeka.models import FAMILY_KEYS
from zeka.workflow.workbench import ModelAPI


def script(dataset):
    table = model_param_specific(copy.deepcopy(model_param_items), dataset)
    api = ModelAPI(dataset, model_list=list(FAMILY_KEYS), model_item=table)
    for name, pipeline in api.model_dict.items():
        api.singlerun(pipeline, name)
    return api.get_leaderboard(
        rank_metric="AUC" if dataset.task_type == "classification" else "MSE"
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dataset", default="SimuCredit_raw")
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()

    panel = zeka.panel(args.dataset)
    dataset = panel.dataset
    panel_times, script_times = [], []
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        script(dataset)  # warm-up: imports and first-call costs on neither side's account
        for _ in range(args.repeat):
            started = time.perf_counter()
            board = panel.train(list(FAMILY_KEYS))
            panel_times.append(time.perf_counter() - started)
            started = time.perf_counter()
            expected = script(dataset)
            script_times.append(time.perf_counter() - started)
    assert sorted(board["Model"]) == sorted(expected["Model"]), (board, panel.failures)
    for name, times in (("panel", panel_times), ("script", script_times)):
        print(
            "{:<7} best {:6.2f} s  median {:6.2f} s".format(
                name, min(times), statistics.median(times)
            )
        )
    print(
        "ratio panel / script: best {:.3f}, median {:.3f} (target <= 1.1)".format(
            min(panel_times) / min(script_times),
            statistics.median(panel_times) / statistics.median(script_times),
        )
    )


if __name__ == "__main__":
    main()
