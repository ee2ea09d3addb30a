// The popup: the switch that catches every download, its minimum size and the
// extensions left to the browser; and what became of the last download handed over.
const api = globalThis.browser ?? globalThis.chrome;
const DEFAULTS = {catchAll: false, minSizeKiB: 0, leaveExtensions: "", lastAnswer: null};

async function show() {
  const s = await api.storage.local.get(DEFAULTS);
  document.getElementById("catchAll").checked = s.catchAll;
  document.getElementById("minSizeKiB").value = s.minSizeKiB;
  document.getElementById("leaveExtensions").value = s.leaveExtensions;
  const last = s.lastAnswer;
  document.getElementById("last").textContent = !last ? "" :
      last.status === "queued" ? "Queued in Vantorel: " + last.url :
      "Left to the browser: " + last.url + " (" + last.reason + ")";
}

function keep() {
  api.storage.local.set({
    catchAll: document.getElementById("catchAll").checked,
    minSizeKiB: Math.max(0, Number(document.getElementById("minSizeKiB").value) || 0),
    leaveExtensions: document.getElementById("leaveExtensions").value,
  });
}

for (const id of ["catchAll", "minSizeKiB", "leaveExtensions"]) {
  document.getElementById(id).addEventListener("change", keep);
}
show();
