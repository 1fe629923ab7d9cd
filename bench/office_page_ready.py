#!/usr/bin/python3
"""Milliseconds from navigation to the office's stations table filled with N
rows, in Debian's headless Chromium. Usage: office_page_ready.py URL USER:PASSWORD N RUNS"""
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

url, credentials, rows, runs = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
user, password = credentials.split(":", 1)
with tempfile.TemporaryDirectory() as profile:
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--no-first-run", "--user-data-dir=" + profile):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        driver.get(url + "/login")
        driver.find_element(By.ID, "user").send_keys(user)
        driver.find_element(By.ID, "password").send_keys(password)
        driver.find_element(By.ID, "login").click()
        WebDriverWait(driver, 60).until(lambda d: "/login" not in d.current_url)
        for _ in range(runs):
            driver.get("about:blank")
            start = time.monotonic()
            driver.get(url + "/")
            WebDriverWait(driver, 60, poll_frequency=0.005).until(
                lambda d: d.execute_script(
                    "const t = document.getElementById('stations');"
                    "return t && Number(t.dataset.rows || 0);") >= rows)
            print(round((time.monotonic() - start) * 1000, 1))
    finally:
        driver.quit()
