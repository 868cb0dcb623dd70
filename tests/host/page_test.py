#!/usr/bin/python3
"""The page of mzhost serve in headless Chromium, on a fresh device with the
sample contacts and one whose name is an HTML snippet: sign in, see the
contacts, edit one and import a file (checked through mzhost), send an SMS to the phone's own
number and see it arrive live, a badge for a message that arrives elsewhere,
delete it, and the snippet shown as text. Saves a screenshot of each tab.
Usage: page_test.py MZHOST PHONECTL ARTIFACTS_DIR
Exits 77 (skipped) without chromium, chromedriver or python3-selenium."""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import urllib.error
import urllib.request

SKIP = 77
CHROMIUM, CHROMEDRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"
try:
    from selenium import webdriver
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support import expected_conditions as EC
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("skipped: python3-selenium is not installed")
    sys.exit(SKIP)
for program in (CHROMIUM, CHROMEDRIVER):
    if not os.access(program, os.X_OK):
        print(f"skipped: {program} is not installed")
        sys.exit(SKIP)

SNIPPET = "<img src=x onerror=alert(1)>"
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
mzhost, phonectl, artifacts = sys.argv[1:4]
work = tempfile.mkdtemp()
device = os.path.join(work, "phone")


def run(*argv):
    return subprocess.run(argv, check=True, capture_output=True, text=True).stdout


def phone(*args):
    # --wait: the server holds the phone's lock while it answers a request.
    return run(mzhost, "--device", device, "--wait", "30", *args)


def shown_contact(name):
    """The vCard mzhost shows for the contact named `name`."""
    listed = json.loads(phone("--json", "contacts", "list"))
    position = next(c["position"] for c in listed if c["name"] == name)
    return phone("contacts", "show", str(position))


def fetch(path, **headers):
    try:
        with urllib.request.urlopen(urllib.request.Request(url + path, headers=headers)) as r:
            return r.status, r.headers
    except urllib.error.HTTPError as e:
        return e.code, e.headers


def check_files():
    """The page's files: public, each with its type and an ETag that answers 304."""
    types = {"": "text/html; charset=utf-8", "app.js": "text/javascript",
             "app.css": "text/css", "favicon.svg": "image/svg+xml"}
    for path, kind in types.items():
        status, headers = fetch(path)
        check(f"/{path} is {kind}", (status, headers["Content-Type"]) == (200, kind))
        check(f"/{path} is not sent again", fetch(path, **{"If-None-Match": headers["ETag"]})[0] == 304)
    check("an unknown file is 404", fetch("no-such-file.js")[0] == 404)


def by_id(name):
    return driver.find_element(By.ID, name)


def shows(element_id, text):
    wait.until(EC.text_to_be_present_in_element((By.ID, element_id), text),
               f"#{element_id} never showed {text!r}")


def item(list_id, text):
    return wait.until(EC.element_to_be_clickable(
        (By.XPATH, f"//*[@id='{list_id}']//button[contains(., '{text}')]")))


def check(what, ok):
    if not ok:
        raise AssertionError(what)
    print(f"ok: {what}")


def browse():
    driver.get(url)
    wait.until(EC.visibility_of_element_located((By.ID, "password"))).send_keys("page-test-secret")
    by_id("sign-in").submit()
    wait.until(EC.visibility_of_element_located((By.ID, "sign-out")), "not signed in")
    for name in ("Grace Okafor", "Aiko Tanaka", "Zoë Hartmann"):
        shows("contact-list", name)
    check("signed in, the sample contacts are listed", True)

    # Search on the server, edit, and the phone keeps the change.
    by_id("q").send_keys("tanaka", Keys.ENTER)
    wait.until(lambda d: "Grace" not in by_id("contact-list").text, "the search did not narrow")
    item("contact-list", "Aiko Tanaka").click()
    wait.until(EC.element_to_be_clickable((By.ID, "edit-contact"))).click()
    mobile = wait.until(EC.visibility_of_element_located((By.ID, "f-mobile")))
    mobile.clear()
    mobile.send_keys("+1 555 0177")
    by_id("contact-form").submit()
    shows("status", "Saved")
    check("an edit reaches the phone", "+1 555 0177" in shown_contact("Aiko Tanaka"))

    # An imported file's report names what the phone could not keep.
    by_id("import-file").send_keys(cards)
    shows("report-summary", "1 of 1 cards imported")
    shows("report-notes", "NICKNAME")
    check("an imported card reaches the phone", "Import;Pat" in shown_contact("Pat Import"))

    # The tabs answer the arrow keys; the event stream is open before sending.
    by_id("tab-contacts").send_keys(Keys.ARROW_RIGHT)
    check("the right arrow selects Messages",
          by_id("tab-messages").get_attribute("aria-selected") == "true")
    shows("live", "on")
    by_id("sms-number").send_keys(own)
    by_id("sms-text").send_keys("Hello from the page")
    shows("sms-count", "19 of 209")
    by_id("compose").submit()
    shows("message-list", "Hello from the page")
    check("an SMS to the own number appears live in the Inbox", True)

    # A message arriving while another tab shows: a badge until Messages is seen.
    by_id("tab-settings").click()
    item("sound-dirs", "Use Alert1.wav").click()
    shows("status", "is now \\Windows\\Alert1.wav")
    check("a ringtone chosen from the listed sounds", True)
    driver.save_screenshot(os.path.join(artifacts, "page-settings.png"))
    run(phonectl, "--device", device, "receive", "+15550123", "Badge check")
    wait.until(EC.visibility_of_element_located((By.ID, "badge")), "no badge")
    check("a message arriving elsewhere shows a badge", by_id("badge").text == "1")
    by_id("tab-messages").click()
    check("the badge goes when Messages is seen", not by_id("badge").is_displayed())
    shows("message-list", "Badge check")

    item("message-list", "Hello from the page").click()
    wait.until(EC.element_to_be_clickable((By.ID, "delete-message"))).click()
    wait.until(EC.alert_is_present(), "no confirmation").accept()
    shows("status", "deleted")
    wait.until(lambda d: "Hello from the page" not in by_id("message-list").text)
    driver.save_screenshot(os.path.join(artifacts, "page-messages.png"))
    check("a deleted message leaves the phone",
          "Hello from the page" not in phone("messages", "list", "inbox"))

    # The snippet is text in the list and in the card, never an element.
    by_id("tab-contacts").click()
    search = by_id("q")
    search.clear()
    search.send_keys("img", Keys.ENTER)
    item("contact-list", SNIPPET).click()
    wait.until(lambda d: by_id("contact-name").text == SNIPPET, "the snippet's name is not shown")
    check("the snippet is shown as text, no <img> made",
          not driver.find_elements(By.TAG_NAME, "img"))
    driver.save_screenshot(os.path.join(artifacts, "page-contacts.png"))
    try:
        driver.switch_to.alert
        check("no script ran from a card", False)
    except NoAlertPresentException:
        pass

    driver.set_window_size(360, 800)
    check("a 360 px window needs no sideways scrolling", driver.execute_script(
        "return document.documentElement.scrollWidth <= window.innerWidth"))
    driver.save_screenshot(os.path.join(artifacts, "page-narrow.png"))

    blocked = [e["message"] for e in driver.get_log("browser") if "Content Security" in e["message"]]
    check(f"the page breaks no content security rule {blocked}", not blocked)
    by_id("sign-out").click()
    wait.until(EC.visibility_of_element_located((By.ID, "sign-in")), "not signed out")
    check("signing out shows the sign-in form", True)


own = run(phonectl, "--device", device, "init").split("own number: ")[1].split()[0]
snippet, password = os.path.join(work, "snippet.vcf"), os.path.join(work, "password")
with open(snippet, "w") as f:
    f.write(f"BEGIN:VCARD\nVERSION:2.1\nN:;{SNIPPET};;;\nEND:VCARD\n")
phone("contacts", "import", os.path.join(ROOT, "examples", "contacts.vcf"), snippet)
cards = os.path.join(work, "import.vcf")
with open(cards, "w") as f:
    f.write("BEGIN:VCARD\nVERSION:3.0\nFN:Pat Import\nN:Import;Pat;;;\nNICKNAME:Patty\nEND:VCARD\n")
with open(password, "w") as f:
    f.write("page-test-secret\n")
os.makedirs(artifacts, exist_ok=True)

# start_serve's server stays the child of this bash, which exits with its status.
serve = subprocess.Popen(
    ["bash", "-c", '. "$0"; start_serve "$@" || exit 1; echo "$server $url"; wait "$server"',
     os.path.join(ROOT, "scripts", "serve-lib.sh"), mzhost, device, password, work],
    stdout=subprocess.PIPE, text=True)
failed = True
try:
    server, url = serve.stdout.readline().split()
    check_files()
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--window-size=1100,900", f"--user-data-dir={work}/browser"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    wait = WebDriverWait(driver, 20)  # generous: a sanitizer build answers slowly
    try:
        browse()
        failed = False
    finally:
        if failed:
            driver.save_screenshot(os.path.join(artifacts, "page-failure.png"))
            for entry in driver.get_log("browser"):
                print("browser:", entry["message"])
        driver.quit()
finally:
    if serve.poll() is None:
        os.kill(int(server), signal.SIGTERM)
    status = serve.wait(timeout=60)
    if failed or status != 0:
        with open(os.path.join(work, "serve.err")) as log:
            print(log.read()[-3000:])
    shutil.rmtree(work, ignore_errors=True)
check(f"the server stops cleanly (status {status})", status == 0)
