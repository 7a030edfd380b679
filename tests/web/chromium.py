"""Headless Chromium driven through WebDriver, as the page's tests and its benchmark use it."""
import os

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PAGE = os.path.join(ROOT, "web", "ciphrel.html")


def start(downloads):
    """A 1280x800 browser that downloads into `downloads` without asking and keeps its
    console and network log."""
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--window-size=1280,800"):
        options.add_argument(argument)
    options.binary_location = "/usr/bin/chromium"
    options.add_experimental_option("prefs", {
        "download.default_directory": downloads, "download.prompt_for_download": False,
        "profile.default_content_setting_values.automatic_downloads": 1})
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
