// The extensions the host answers. Chromium derives an extension's id from the
// `key` in its manifest (browser/extension/manifest.json); Firefox takes the id
// the manifest names (browser/extension/manifest.firefox.json). The host
// manifests' allowed_origins / allowed_extensions name the same ids.
#pragma once

inline constexpr const char* kChromiumExtensionIds[] = {"popaicmnlejdjgplmpeafdgicoekpida"};
inline constexpr char kFirefoxExtensionId[] = "vantorel@example.org";
