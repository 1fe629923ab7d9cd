#!/usr/bin/python3
"""The office's web page in Debian's headless Chromium, driven by selenium.

Usage: browser_check.py URL PRICING_USER:PASSWORD VIEWER_USER:PASSWORD AGENT_PID
Logs in, sees both stations, pushes row 1 to north-1 and sees it confirmed,
schedules a push and cancels it from the list and sees that confirmed, kills the agent of north-2 (AGENT_PID) and sees the station turn lost, and
sees a viewer refused a push. Exit status 0 when all held; else the step that
failed, on stderr.
"""
import os
import signal
import sys
import tempfile

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

BOUND_S = 30


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--no-first-run", "--lang=en-US",
                 "--user-data-dir=" + profile):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def wait(driver, what, condition):
    try:
        # The table is drawn again as stations change: a row found a moment
        # ago may be gone, which is asked again rather than failed.
        return WebDriverWait(driver, BOUND_S, poll_frequency=0.05,
                             ignored_exceptions=[StaleElementReferenceException]).until(
                                 lambda d: condition(d))
    except Exception:
        sys.exit("browser: " + what + " did not happen; page:\n" +
                 driver.find_element(By.TAG_NAME, "body").text)


def log_in(driver, url, credentials):
    user, password = credentials.split(":", 1)
    driver.get(url + "/login")
    driver.find_element(By.ID, "user").send_keys(user)
    driver.find_element(By.ID, "password").send_keys(password)
    driver.find_element(By.ID, "login").click()
    wait(driver, "the stations table after logging in as " + user,
         lambda d: d.find_elements(By.CSS_SELECTOR, "#stations tbody tr"))


def row(driver, station):
    rows = driver.find_elements(By.CSS_SELECTOR, f'#stations tbody tr[data-station="{station}"]')
    return rows[0] if rows else None


def push(driver, url, specs, station, at=""):
    driver.get(url + "/#/push")
    for field, text in (("push-specs", specs), ("push-stations", station)):
        driver.find_element(By.ID, field).clear()  # what the last push left
        driver.find_element(By.ID, field).send_keys(text)
    driver.execute_script("document.getElementById('push-at').value = arguments[0]", at)
    driver.find_element(By.ID, "push-send").click()


def confirmed(driver, station):
    return driver.find_elements(By.CSS_SELECTOR, f'#push-outcomes tr[data-station="{station}"] '
                                '.outcome[data-outcome="confirmed"]')


def main():
    url, pricing, viewer, agent = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    with tempfile.TemporaryDirectory() as profile:
        driver = browser(profile)
        try:
            log_in(driver, url, pricing)
            wait(driver, "both stations online in the table",
                 lambda d: all(row(d, s) is not None and
                               row(d, s).find_element(By.CLASS_NAME, "online").text == "online"
                               for s in ("north-1", "north-2")))
            push(driver, url, "row1=47.90:95", "north-1")
            wait(driver, "north-1's confirmation of the push", lambda d: confirmed(d, "north-1"))
            push(driver, url, "row2=50.50:95", "north-1", "2099-01-01T06:00:00")
            wait(driver, "north-1's confirmation of the scheduled push",
                 lambda d: confirmed(d, "north-1"))
            wait(driver, "the scheduled push listed with its cancel",
                 lambda d: d.find_elements(By.CSS_SELECTOR, "#scheduled-pushes .push-cancel"))
            driver.find_element(By.CSS_SELECTOR, "#scheduled-pushes .push-cancel").click()
            wait(driver, "north-1's confirmation of the cancel, and the list empty",
                 lambda d: confirmed(d, "north-1") and
                 not d.find_elements(By.CSS_SELECTOR, "#scheduled-pushes .push-cancel"))
            os.kill(agent, signal.SIGKILL)
            driver.get(url + "/#/")
            wait(driver, "north-2 shown lost",
                 lambda d: row(d, "north-2") is not None and
                 "state-lost" in row(d, "north-2").get_attribute("class"))
            driver.find_element(By.ID, "logout").click()
            wait(driver, "the login page after logging out", lambda d: "/login" in d.current_url)
            log_in(driver, url, viewer)
            push(driver, url, "row1=11.11:95", "north-1")
            wait(driver, "the viewer's refusal",
                 lambda d: "viewer may not push" in d.find_element(By.ID, "push-error").text)
        finally:
            driver.quit()
    print("browser: all steps held")


main()
