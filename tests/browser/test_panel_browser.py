"""The panel as a user meets it: JupyterLab on a loopback port with a token, a notebook
that opens the panel, Debian's chromium driven through selenium.

Runs by ``make browser-test`` (marker ``browser``), once per CI run. Where chromium,
its driver, JupyterLab or selenium is missing the test is skipped with the reason, and
under CI (CI=true) it fails instead. Screenshots of every tab go to
build/browser-screenshots/ (or $ZEKA_SCREENSHOTS).
"""

import json
import os
import shutil
import socket
import subprocess
import sys
import time
import urllib.request
from pathlib import Path

import pytest

pytestmark = pytest.mark.browser

ROOT = Path(__file__).resolve().parents[2]
SHOTS = Path(os.environ.get("ZEKA_SCREENSHOTS", ROOT / "build" / "browser-screenshots"))
TABS = ["Data", "Preparation", "Outliers and features", "Models", "Train", "Interpret", "Export"]
TYPED = "0.5"  # into the GLM's L1_regularization
NOTEBOOK = ".jp-NotebookPanel:not(.lm-mod-hidden) .jp-Notebook"


def unavailable(reason):
    if os.environ.get("CI") == "true":
        pytest.fail("the browser test cannot run under CI: " + reason)
    pytest.skip(reason)


def tool(*names):
    for name in names:
        path = shutil.which(name)
        if path:
            return path
    unavailable(
        "{} not found; install Debian's chromium and chromium-driver (apt-get install "
        "chromium chromium-driver)".format(" or ".join(names))
    )


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def notebook(dataset):
    cells = [
        "import zeka\npanel = zeka.panel({!r})\npanel".format(dataset),
        "est = panel.models['glm'].estimator\n"
        "print('TRAINED', type(est).__name__, est.l1_regularization)",
    ]
    return {
        "cells": [
            {
                "cell_type": "code",
                "metadata": {},
                "source": c,
                "outputs": [],
                "execution_count": None,
            }
            for c in cells
        ],
        "metadata": {
            "kernelspec": {"name": "python3", "display_name": "Python 3", "language": "python"}
        },
        "nbformat": 4,
        "nbformat_minor": 5,
    }


@pytest.fixture(scope="module")
def lab(tmp_path_factory):
    for module in ("jupyterlab", "selenium", "ipykernel"):
        try:
            __import__(module)
        except ImportError:
            unavailable("{} is not installed (make browser-test installs it)".format(module))
    root = tmp_path_factory.mktemp("lab")
    home = tmp_path_factory.mktemp("home")
    port, token = free_port(), os.urandom(16).hex()
    env = dict(
        os.environ,
        HOME=str(home),
        JUPYTER_CONFIG_DIR=str(home / "config"),
        JUPYTER_RUNTIME_DIR=str(home / "runtime"),
        IPYTHONDIR=str(home / "ipython"),
        MPLBACKEND="Agg",
    )
    # no news toast over the page
    settings = home / "lab-settings" / "@jupyterlab" / "apputils-extension"
    settings.mkdir(parents=True)
    (settings / "notification.jupyterlab-settings").write_text('{"fetchNews": "false"}')
    env["JUPYTERLAB_SETTINGS_DIR"] = str(home / "lab-settings")
    log = open(root / "server.log", "w")
    server = subprocess.Popen(
        [
            sys.executable,
            "-m",
            "jupyterlab",
            "--no-browser",
            "--ip=127.0.0.1",
            "--port={}".format(port),
            "--ServerApp.port_retries=0",
            "--IdentityProvider.token={}".format(token),
            "--ServerApp.root_dir={}".format(root),
            "--LabApp.news_url=",
            "--LabApp.check_for_updates_class=jupyterlab.NeverCheckForUpdate",
        ]
        + (["--allow-root"] if os.geteuid() == 0 else []),
        cwd=root,
        env=env,
        stdout=log,
        stderr=subprocess.STDOUT,
    )
    url = "http://127.0.0.1:{}".format(port)
    try:
        deadline = time.time() + 90
        while True:
            try:
                with urllib.request.urlopen("{}/api/status?token={}".format(url, token), timeout=2):
                    break
            except OSError:
                if server.poll() is not None or time.time() > deadline:
                    log.flush()
                    pytest.fail(
                        "JupyterLab did not start:\n" + (root / "server.log").read_text()[-3000:]
                    )
                time.sleep(0.5)
        yield url, token, root
    finally:
        server.terminate()
        try:
            server.wait(timeout=20)
        except subprocess.TimeoutExpired:
            server.kill()
        log.close()


@pytest.fixture
def driver():
    chromium = tool("chromium", "chromium-browser")
    chromedriver = tool("chromedriver", "chromium-driver")
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for argument in (
        "--headless=new",
        "--no-sandbox",
        "--disable-dev-shm-usage",
        "--disable-gpu",
        "--window-size=1400,1800",
        "--force-device-scale-factor=1",
    ):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    browser = webdriver.Chrome(service=Service(executable_path=chromedriver), options=options)
    browser.set_page_load_timeout(90)
    yield browser
    browser.quit()


def wait_for(browser, css, timeout):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions as ec
    from selenium.webdriver.support.ui import WebDriverWait

    return WebDriverWait(browser, timeout).until(
        ec.visibility_of_element_located((By.CSS_SELECTOR, css))
    )


def open_tab(browser, title):
    from selenium.webdriver.common.by import By

    label = browser.find_element(
        By.XPATH,
        "//div[contains(@class,'zeka-panel')]//*[contains(@class,'TabBar-tabLabel') and "
        "normalize-space(text())='{}']".format(title),
    )
    label.click()
    time.sleep(0.6)


def run_cell(browser, index):
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys

    cell = browser.find_elements(By.CSS_SELECTOR, NOTEBOOK + " .jp-CodeCell")[index]
    browser.execute_script("arguments[0].scrollIntoView({block: 'center'});", cell)
    cell.find_element(By.CSS_SELECTOR, ".jp-InputArea-editor .cm-content").click()
    ActionChains(browser).key_down(Keys.SHIFT).send_keys(Keys.ENTER).key_up(Keys.SHIFT).perform()
    return cell


def shoot(browser, name):
    """A screenshot of the whole panel: the window is made tall enough to hold it."""
    from selenium.webdriver.common.by import By

    SHOTS.mkdir(parents=True, exist_ok=True)
    panel = browser.find_element(By.CSS_SELECTOR, NOTEBOOK + " .zeka-panel")
    height = browser.execute_script("return arguments[0].scrollHeight;", panel)
    browser.set_window_size(1400, max(1000, int(height) + 500))
    time.sleep(0.5)
    browser.execute_script("arguments[0].scrollIntoView({block: 'start'});", panel)
    time.sleep(0.3)
    path = SHOTS / "{}.png".format(name)
    panel.screenshot(str(path))
    return path


def console_errors(browser):
    return [e for e in browser.get_log("browser") if e.get("level") == "SEVERE"]


@pytest.mark.parametrize(
    "dataset, task", [("SimuCredit_raw", "classification"), ("SimuRegression", "regression")]
)
def test_the_panel_in_a_browser(lab, driver, dataset, task):
    try:
        walk(lab, driver, dataset, task)
    except BaseException:
        SHOTS.mkdir(parents=True, exist_ok=True)
        driver.save_screenshot(str(SHOTS / "failure-{}.png".format(task)))
        (SHOTS / "failure-{}-console.txt".format(task)).write_text(
            "\n".join(str(e) for e in driver.get_log("browser"))
        )
        raise


def walk(lab, driver, dataset, task):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys

    url, token, root = lab
    name = "panel-{}.ipynb".format(task)
    (root / name).write_text(json.dumps(notebook(dataset)))
    driver.get_log("browser")  # start with an empty console
    driver.get("{}/lab/workspaces/{}/tree/{}?reset&token={}".format(url, task, name, token))
    wait_for(driver, NOTEBOOK + " .jp-CodeCell .jp-InputArea-editor", 120)
    # the kernel must be up before the cell runs
    wait_for(driver, ".jp-Notebook-ExecutionIndicator[data-status='idle']", 120)
    run_cell(driver, 0)
    wait_for(driver, ".zeka-panel", 120)

    open_tab(driver, "Data")
    driver.find_element(By.CSS_SELECTOR, ".zeka-run-checks").click()
    wait_for(driver, ".zeka-checks table", 120)

    open_tab(driver, "Models")
    box = wait_for(driver, ".zeka-param-glm-l1_regularization input", 30)
    box.click()
    box.send_keys(Keys.CONTROL, "a")
    box.send_keys(TYPED, Keys.TAB)
    time.sleep(1.0)  # the value reaches the kernel

    open_tab(driver, "Train")
    driver.find_element(By.CSS_SELECTOR, ".zeka-train-button").click()
    # while it trains, the page says which family is training and how many are done
    seen, deadline = set(), time.time() + 120
    while time.time() < deadline:
        now = driver.find_element(By.CSS_SELECTOR, ".zeka-now").text
        if now.startswith("Training "):
            seen.add(now.split(":")[0])
        if now.startswith("Done"):
            break
        time.sleep(0.2)
    assert any(s.startswith("Training ") and " of 9" in s for s in seen), seen
    assert len(seen) >= 2, seen  # the progress moved while the cell's handler ran
    wait_for(driver, ".zeka-train-status table", 60)
    board = wait_for(driver, ".zeka-leaderboard table", 300)
    assert "glm" in board.text

    from selenium.common.exceptions import TimeoutException

    open_tab(driver, "Interpret")
    driver.find_element(By.CSS_SELECTOR, ".zeka-show-view").click()
    try:
        wait_for(driver, ".zeka-view-figure", 120)
    except TimeoutException:  # the tab says why
        message = driver.find_element(By.CSS_SELECTOR, ".zeka-interpret-message").text
        raise AssertionError("no view was drawn: %s" % message) from None
    shoot(driver, "{}-interpret-view".format(task))
    driver.find_element(By.CSS_SELECTOR, ".zeka-show-shap").click()
    wait_for(driver, ".zeka-shap-figure", 180)

    open_tab(driver, "Outliers and features")
    driver.find_element(By.CSS_SELECTOR, ".zeka-detect").click()
    wait_for(driver, ".zeka-outlier-histogram", 120)
    driver.find_element(By.CSS_SELECTOR, ".zeka-score").click()
    wait_for(driver, ".zeka-outliers table", 120)

    open_tab(driver, "Export")
    driver.find_element(By.CSS_SELECTOR, ".zeka-show-code").click()
    code = wait_for(driver, ".zeka-code pre", 60)
    assert "table['glm']['l1_regularization'][3] = 0.5" in code.text

    for title in TABS:
        open_tab(driver, title)
        shoot(driver, "{}-{}".format(task, title.lower().replace(" ", "-")))

    cell = run_cell(driver, 1)
    printed, deadline = "", time.time() + 60
    while "TRAINED" not in printed and time.time() < deadline:
        time.sleep(0.5)
        printed = " ".join(
            o.text for o in cell.find_elements(By.CSS_SELECTOR, ".jp-OutputArea-output")
        )
    words = printed.split()
    assert words[:2] == ["TRAINED", "GLMClassifier" if task == "classification" else "GLMRegressor"]
    assert float(words[2]) == float(TYPED), printed
    assert errors_free(driver)


def errors_free(driver):
    errors = console_errors(driver)
    assert not errors, "the browser console has errors:\n" + "\n".join(e["message"] for e in errors)
    return True
