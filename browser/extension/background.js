// Vantorel's extension: hands downloads to Vantorel through its native
// messaging host, with what the site expects from the browser: the page as
// Referer, the browser's User-Agent, the file name the browser proposed and the
// cookies the browser would send to that URL.
//
// Every listener is registered here, synchronously, at the top of the worker:
// a download that wakes an idle worker is only delivered to listeners that
// exist by the time the worker's first run ends.
const api = globalThis.browser ?? globalThis.chrome;
const HOST = "org.example.vantorel";
const MENU_ID = "vantorel-link";

api.runtime.onInstalled.addListener(() => {
  api.contextMenus.create({id: MENU_ID, title: "Download with Vantorel", contexts: ["link"]});
});
api.contextMenus.onClicked.addListener((info, tab) => onMenuClicked(info, tab));
api.downloads.onCreated.addListener((item) => onDownloadCreated(item));

const DEFAULTS = {catchAll: false, minSizeKiB: 0, leaveExtensions: ""};

async function settings() {
  return api.storage.local.get(DEFAULTS);
}

// The cookies the browser would send to `url` (HttpOnly ones included: the
// host permissions allow it).
async function cookiesFor(url) {
  try {
    return await api.cookies.getAll({url});
  } catch (error) {
    return [];
  }
}

// The host's answer, {status: "queued"} or {status: "refused", reason}; a host
// that is missing or fails is a refusal with the browser's reason.
async function askHost(message) {
  try {
    const answer = await api.runtime.sendNativeMessage(HOST, message);
    if (answer && answer.status === "queued") return answer;
    return {status: "refused", reason: (answer && answer.reason) || "no answer from Vantorel"};
  } catch (error) {
    return {status: "refused", reason: "the Vantorel host could not be reached: " + error.message};
  }
}

async function handOver(url, referer, fileName) {
  return askHost({
    url,
    referer: referer || "",
    userAgent: navigator.userAgent,
    fileName: fileName || "",
    cookies: await cookiesFor(url),
  });
}

// What the popup shows: the last answer.
async function remember(url, answer) {
  await api.storage.local.set({lastAnswer: {url, status: answer.status, reason: answer.reason || ""}});
}

function baseName(path) {
  return (path || "").split(/[\\/]/).pop();
}

function extensionOf(name) {
  const dot = name.lastIndexOf(".");
  return dot > 0 ? name.slice(dot + 1).toLowerCase() : "";
}

async function onMenuClicked(info, tab) {
  if (info.menuItemId !== MENU_ID || !info.linkUrl) return;
  const answer = await handOver(info.linkUrl, info.pageUrl || (tab && tab.url), "");
  await remember(info.linkUrl, answer);
}

// Whether a download is one to leave to the browser, by the popup's settings.
function leftToBrowser(item, options) {
  const url = item.finalUrl || item.url || "";
  if (!/^https?:/i.test(url)) return true;  // blob:, data:, file: stay in the browser
  const name = baseName(item.filename) || baseName(new URL(url).pathname);
  const leave = options.leaveExtensions.split(/[\s,;]+/).map((e) => e.replace(/^\./, "").toLowerCase());
  if (leave.includes(extensionOf(name))) return true;
  const size = item.totalBytes > 0 ? item.totalBytes : item.fileSize;
  return options.minSizeKiB > 0 && size > 0 && size < options.minSizeKiB * 1024;
}

// The browser made its first request already: pausing keeps it (and its
// Referer) should Vantorel refuse; the browser's download is cancelled only
// once the host said queued.
async function onDownloadCreated(item) {
  const options = await settings();
  if (!options.catchAll || leftToBrowser(item, options)) return;
  try {
    await api.downloads.pause(item.id);
  } catch (error) {
    return;  // finished or gone already: nothing to take over
  }
  const url = item.finalUrl || item.url;
  const answer = await handOver(url, item.referrer, baseName(item.filename));
  if (answer.status === "queued") {
    await api.downloads.cancel(item.id).catch(() => {});
    await api.downloads.erase({id: item.id}).catch(() => {});
  } else {
    await api.downloads.resume(item.id).catch(() => {});
  }
  await remember(url, answer);
}

// For the tests: the handlers without the events.
globalThis.vantorel = {onMenuClicked, onDownloadCreated, leftToBrowser};
