// The extension's worker against a stand-in browser: its listeners exist as soon
// as the worker ran, the menu entry hands the link over with the page, the
// browser's User-Agent and the cookies, and a caught download is paused, then
// cancelled only when the host said queued (resumed otherwise, with the reason
// kept for the popup). Run: node extension_test.mjs (exit status 1 on failure).
import assert from "node:assert/strict";
import {readFileSync} from "node:fs";
import {dirname, join} from "node:path";
import {fileURLToPath} from "node:url";
import vm from "node:vm";

const source = readFileSync(join(dirname(fileURLToPath(import.meta.url)), "../extension/background.js"), "utf8");

function standIn(hostAnswer) {
  const calls = [];
  const listeners = {};
  const store = {};
  const event = (name) => ({addListener: (f) => { listeners[name] = f; }});
  const record = (name, result) => async (...args) => { calls.push([name, ...args]); return result(...args); };
  const chrome = {
    runtime: {onInstalled: event("installed"), sendNativeMessage: record("host", hostAnswer)},
    contextMenus: {create: (m) => calls.push(["menu", m]), onClicked: event("menu")},
    downloads: {
      onCreated: event("created"),
      pause: record("pause", () => {}), resume: record("resume", () => {}),
      cancel: record("cancel", () => {}), erase: record("erase", () => {}),
    },
    cookies: {getAll: record("cookies", () => [{name: "sid", value: "1", domain: "h", hostOnly: true}])},
    storage: {local: {
      get: async (defaults) => ({...defaults, ...store}),
      set: async (values) => Object.assign(store, values),
    }},
  };
  const context = vm.createContext({chrome, navigator: {userAgent: "Browser/3.0"}, URL, console});
  vm.runInContext(source, context);
  return {calls, listeners, store, api: context.vantorel};
}

// Objects made inside the worker's realm, compared by value.
const plain = (value) => JSON.parse(JSON.stringify(value));

const queued = () => ({status: "queued"});
const refused = () => ({status: "refused", reason: "the file name it proposes is over 255 bytes"});
const missing = () => { throw new Error("Native messaging host not found."); };

// Registered while the worker's first run lasts, before any event.
{
  const {listeners} = standIn(queued);
  assert.ok(listeners.created && listeners.menu && listeners.installed);
  listeners.installed();
}

// The menu entry.
{
  const {calls, listeners, store} = standIn(queued);
  await listeners.menu({menuItemId: "vantorel-link", linkUrl: "http://h/f.zip", pageUrl: "http://h/page"}, {});
  const host = calls.find((c) => c[0] === "host");
  assert.equal(host[1], "org.example.vantorel");
  assert.deepEqual(plain(host[2]), {url: "http://h/f.zip", referer: "http://h/page", userAgent: "Browser/3.0",
                             fileName: "", cookies: [{name: "sid", value: "1", domain: "h", hostOnly: true}]});
  assert.deepEqual(plain(calls.find((c) => c[0] === "cookies")[1]), {url: "http://h/f.zip"});
  assert.equal(store.lastAnswer.status, "queued");
}

// Caught downloads: what the browser's own download becomes.
const item = {id: 7, url: "http://h/f.zip", finalUrl: "http://h/f.zip", referrer: "http://h/page",
              filename: "/home/u/Downloads/f.zip", totalBytes: 50000};
const cases = [
  {what: "queued", answer: queued, settings: {catchAll: true}, steps: ["pause", "host", "cancel", "erase"]},
  {what: "refused", answer: refused, settings: {catchAll: true}, steps: ["pause", "host", "resume"],
   reason: "the file name it proposes is over 255 bytes"},
  {what: "no host", answer: missing, settings: {catchAll: true}, steps: ["pause", "host", "resume"],
   reason: "the Vantorel host could not be reached: Native messaging host not found."},
  {what: "switch off", answer: queued, settings: {}, steps: []},
  {what: "extension left", answer: queued, settings: {catchAll: true, leaveExtensions: "pdf, .ZIP"}, steps: []},
  {what: "too small", answer: queued, settings: {catchAll: true, minSizeKiB: 100}, steps: []},
];
for (const c of cases) {
  const {calls, listeners, store} = standIn(c.answer);
  Object.assign(store, c.settings);
  await listeners.created(item);
  const steps = calls.map((call) => call[0]).filter((name) => name !== "cookies");
  assert.deepEqual(steps, c.steps, c.what);
  if (c.steps.includes("host")) {
    const message = calls.find((call) => call[0] === "host")[2];
    assert.equal(message.fileName, "f.zip", c.what);
    assert.equal(message.referer, "http://h/page", c.what);
  }
  if (c.reason) assert.equal(store.lastAnswer.reason, c.reason, c.what);
}
console.log("extension: all cases passed");
