#include "native_message.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "allowed_callers.h"

namespace {

bool ReadExactly(std::FILE* in, char* buffer, std::size_t count) {
    return std::fread(buffer, 1, count, in) == count;
}

std::string Text(const QJsonObject& object, const char* name) {
    return object.value(QLatin1String(name)).toString().toStdString();
}

// A cookie as a Netscape cookie-file line, the form libcurl's engine takes:
// domain, include-subdomains flag, path, secure flag, expiry, name, value. A
// host-only cookie keeps its bare host, so the engine sends it to that host
// alone; an HttpOnly one is marked the way cookie files mark it.
std::optional<std::string> CookieLine(const QJsonObject& cookie) {
    const std::string name = Text(cookie, "name");
    std::string domain = Text(cookie, "domain");
    if (name.empty() || domain.empty()) return std::nullopt;
    const bool hostOnly = cookie.value(QLatin1String("hostOnly")).toBool();
    if (hostOnly && domain.front() == '.') domain.erase(0, 1);
    if (!hostOnly && domain.front() != '.') domain.insert(0, ".");
    std::string path = Text(cookie, "path");
    if (path.empty()) path = "/";
    long long expiry = 0;  // a session cookie
    const double expires = cookie.value(QLatin1String("expirationDate")).toDouble(0);
    if (!cookie.value(QLatin1String("session")).toBool() && std::isfinite(expires) &&
        expires >= 1 && expires < 9e15) {
        expiry = static_cast<long long>(expires);
    }
    const bool httpOnly = cookie.value(QLatin1String("httpOnly")).toBool();
    return (httpOnly ? "#HttpOnly_" : "") + domain + '\t' + (hostOnly ? "FALSE" : "TRUE") + '\t' +
           path + '\t' + (cookie.value(QLatin1String("secure")).toBool() ? "TRUE" : "FALSE") +
           '\t' + std::to_string(expiry) + '\t' + name + '\t' + Text(cookie, "value");
}

}  // namespace

bool IsOurCaller(int argc, const char* const* argv) {
    for (int i = 1; i < argc && i <= 2; ++i) {
        const std::string_view arg = argv[i] != nullptr ? argv[i] : "";
        for (const char* id : kChromiumExtensionIds) {
            if (arg == "chrome-extension://" + std::string(id) + "/") return true;
        }
        // Firefox: the id comes second, after the manifest's path.
        if (i == 2 && arg == kFirefoxExtensionId) return true;
    }
    return false;
}

ReadMessage ReadNativeMessage(std::FILE* in) {
    ReadMessage message;
    std::uint32_t length = 0;
    char header[sizeof length];
    const std::size_t got = std::fread(header, 1, sizeof header, in);
    if (got == 0) return message;  // the browser closed the pipe
    if (got != sizeof header) {
        message.kind = ReadMessage::Kind::kCut;
        return message;
    }
    std::memcpy(&length, header, sizeof length);
    if (length > kMaxMessageBytes) {
        message.kind = ReadMessage::Kind::kTooLarge;
        return message;
    }
    message.bytes.resize(length);
    message.kind = ReadExactly(in, message.bytes.data(), length) ? ReadMessage::Kind::kMessage
                                                                 : ReadMessage::Kind::kCut;
    return message;
}

bool WriteNativeMessage(std::FILE* out, std::string_view json) {
    const auto length = static_cast<std::uint32_t>(json.size());
    char header[sizeof length];
    std::memcpy(header, &length, sizeof length);
    return std::fwrite(header, 1, sizeof header, out) == sizeof header &&
           std::fwrite(json.data(), 1, json.size(), out) == json.size() && std::fflush(out) == 0;
}

std::optional<HandedDownload> ParseDownloadMessage(std::string_view json, std::string* why) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        *why = "the message is not a JSON object";
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QJsonValue url = object.value(QLatin1String("url"));
    if (!url.isString() || url.toString().isEmpty()) {
        *why = "the message holds no URL";
        return std::nullopt;
    }
    HandedDownload download;
    download.url = url.toString().toStdString();
    download.referer = Text(object, "referer");
    download.agent = Text(object, "userAgent");
    download.fileName = Text(object, "fileName");
    for (const QJsonValue& cookie : object.value(QLatin1String("cookies")).toArray()) {
        if (std::optional<std::string> line = CookieLine(cookie.toObject())) {
            download.cookies.push_back(std::move(*line));
        }
    }
    return download;
}

std::string AnswerJson(std::string_view reason) {
    QJsonObject answer;
    answer.insert(QLatin1String("status"),
                  reason.empty() ? QLatin1String("queued") : QLatin1String("refused"));
    if (!reason.empty()) {
        answer.insert(QLatin1String("reason"),
                      QString::fromUtf8(reason.data(), static_cast<qsizetype>(reason.size())));
    }
    return QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString();
}
