// The extension in a real browser: Debian's chromium, headless, with the
// extension loaded from browser/extension and the host registered in a scratch
// profile, driven over its DevTools protocol by puppeteer-core. A page on a
// local server sets an HttpOnly session cookie and links to files the server
// gives only with that cookie and the page as Referer.
//
// Usage: node real_browser_test.mjs BUILD_APP_FOLDER   (exit status 1 on failure)
import assert from "node:assert/strict";
import {spawn} from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import {fileURLToPath} from "node:url";
import puppeteer from "puppeteer-core";

const here = path.dirname(fileURLToPath(import.meta.url));
const buildApp = path.resolve(process.argv[2]);
const extension = path.resolve(here, "../extension");
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "vantorel-browser-"));
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function waitFor(what, check, ms = 30000) {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    if (await check()) return;
    await sleep(100);
  }
  throw new Error("timed out waiting for " + what);
}

// The file's bytes: a pattern the test can check without keeping a copy.
const SIZE = 1 << 20;
const body = Buffer.alloc(SIZE);
for (let i = 0; i < SIZE; ++i) body[i] = (i * 7 + (i >> 8)) & 0xff;

const log = [];
const server = http.createServer((req, res) => {
  const url = new URL(req.url, "http://127.0.0.1");
  if (url.pathname === "/page") {
    res.writeHead(200, {"Content-Type": "text/html", "Set-Cookie": "sid=s3cret; HttpOnly; Path=/"});
    res.end('<a id="a" href="/a.bin">a</a> <a id="b" href="/b.bin">b</a> <a id="c" href="/c.bin">c</a>');
    return;
  }
  log.push({path: url.pathname, cookie: req.headers.cookie || "", referer: req.headers.referer || "",
            agent: req.headers["user-agent"] || ""});
  const page = `http://127.0.0.1:${server.address().port}/page`;
  if ((req.headers.cookie || "").indexOf("sid=s3cret") < 0 || req.headers.referer !== page) {
    res.writeHead(403);
    res.end();
    return;
  }
  // Slowly, so the extension can pause the browser's own download first.
  res.writeHead(200, {"Content-Type": "application/octet-stream", "Content-Length": SIZE,
                      "Content-Disposition": "attachment"});
  let at = 0;
  const timer = setInterval(() => {
    const next = Math.min(SIZE, at + 64 * 1024);
    res.write(body.subarray(at, next));
    at = next;
    if (at >= SIZE) { clearInterval(timer); res.end(); }
  }, 250);  // 4 s for the whole file: time for a stopped worker to wake
  req.on("close", () => clearInterval(timer));
});
await new Promise((r) => server.listen(0, "127.0.0.1", r));
const origin = `http://127.0.0.1:${server.address().port}`;

// The program and its host in a folder of their own (their state stays there),
// with a home and XDG folders inside the scratch folder.
const prog = path.join(scratch, "prog");
const desktop = path.join(scratch, "home/Desktop");
const downloads = path.join(scratch, "browser-downloads");
for (const dir of [prog, desktop, downloads, path.join(scratch, "runtime"), path.join(scratch, "config")]) {
  fs.mkdirSync(dir, {recursive: true, mode: 0o700});
}
for (const name of ["vantorel", "vantorel-browser-host"]) {
  fs.copyFileSync(path.join(buildApp, name), path.join(prog, name));
  fs.chmodSync(path.join(prog, name), 0o755);
}
const env = {...process.env, HOME: path.join(scratch, "home"), XDG_CONFIG_HOME: path.join(scratch, "config"),
             XDG_RUNTIME_DIR: path.join(scratch, "runtime"), QT_QPA_PLATFORM: "offscreen",
             DBUS_SESSION_BUS_ADDRESS: "unix:path=" + path.join(scratch, "runtime/no-bus")};
for (const name of ["http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"]) delete env[name];
const program = spawn(path.join(prog, "vantorel"), [], {env, cwd: scratch, stdio: "ignore"});
await waitFor("the program's hand-off socket",
              () => fs.readdirSync(path.join(scratch, "runtime")).some((n) => n.startsWith("vantorel")));

const profile = path.join(scratch, "profile");
const hosts = path.join(profile, "NativeMessagingHosts");
fs.mkdirSync(hosts, {recursive: true});
const manifest = path.join(hosts, "org.example.vantorel.json");
const extensionId = "popaicmnlejdjgplmpeafdgicoekpida";
fs.writeFileSync(manifest, JSON.stringify({name: "org.example.vantorel", description: "test",
  path: path.join(prog, "vantorel-browser-host"), type: "stdio",
  allowed_origins: [`chrome-extension://${extensionId}/`]}));

const browser = await puppeteer.launch({
  executablePath: "/usr/bin/chromium", pipe: true, headless: true, env, userDataDir: profile,
  ignoreDefaultArgs: ["--disable-extensions"],
  args: ["--no-sandbox", `--load-extension=${extension}`, `--disable-extensions-except=${extension}`],
});
let failed = false;
try {
  await browser.waitForTarget(
      (t) => t.type() === "service_worker" && t.url().startsWith(`chrome-extension://${extensionId}/`));
  // The switch, as the user turns it on in the popup.
  const popup = await browser.newPage();
  await popup.goto(`chrome-extension://${extensionId}/popup.html`);
  await popup.click("#catchAll");
  await popup.waitForFunction(async () => (await chrome.storage.local.get("catchAll")).catchAll === true);
  await popup.close();
  const page = await browser.newPage();
  const cdp = await page.createCDPSession();
  await cdp.send("Browser.setDownloadBehavior", {behavior: "allow", downloadPath: downloads});
  await page.goto(origin + "/page");
  const agent = await page.evaluate(() => navigator.userAgent);

  const caught = async (id, what) => {
    await page.click("#" + id);
    const file = path.join(desktop, id + ".bin");
    await waitFor(what + ": the file in Vantorel's folder",
                  () => fs.existsSync(file) && fs.statSync(file).size === SIZE, 60000);
    assert.ok(fs.readFileSync(file).equals(body), what + ": byte-exact");
    const ours = log.filter((r) => r.path === `/${id}.bin` && r.agent === agent && r.cookie.includes("sid=s3cret"));
    assert.ok(ours.length >= 2, what + ": the browser's and Vantorel's requests, with cookie, Referer and agent");
    await sleep(500);
    assert.ok(!fs.existsSync(path.join(downloads, id + ".bin")), what + ": no completed download in the browser");
  };
  await caught("a", "caught");
  // As Chromium stops an idle worker: the next download wakes it.
  await cdp.send("ServiceWorker.enable");
  await cdp.send("ServiceWorker.stopAllWorkers");
  await sleep(500);
  await caught("b", "after the worker was stopped");

  // Without the host the browser keeps the download.
  fs.renameSync(path.join(prog, "vantorel-browser-host"), path.join(prog, "gone"));
  await page.click("#c");
  await waitFor("the browser's own download",
                () => fs.existsSync(path.join(downloads, "c.bin")) && fs.statSync(path.join(downloads, "c.bin")).size === SIZE,
                60000);
  assert.ok(!fs.existsSync(path.join(desktop, "c.bin")), "not in Vantorel");
  console.log("real browser: all cases passed");
} catch (error) {
  failed = true;
  console.error(error);
  console.error("browser's downloads:", fs.readdirSync(downloads), "Vantorel's:", fs.readdirSync(desktop));
  try {
    const t = await browser.waitForTarget((t) => t.type() === "service_worker", {timeout: 5000});
    console.error("last answer:", await (await t.worker()).evaluate(() => chrome.storage.local.get("lastAnswer")));
  } catch (e) { console.error("no worker:", e.message); }
  console.error(JSON.stringify(log, null, 1));
} finally {
  await browser.close();
  program.kill("SIGTERM");
  server.close();
  if (!failed) fs.rmSync(scratch, {recursive: true, force: true});
}
process.exit(failed ? 1 : 0);
