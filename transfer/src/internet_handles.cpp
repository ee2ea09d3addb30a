// Making the handles: session, connection, request. Each new handle holds one
// reference for its caller and one on its parent.
#include <string>

#include "internet.h"
#include "internet_request.h"
#include "internet_url_text.h"

namespace brindlex::net {

VHINTERNET InternetOpen(const char* agent, const char* cookies) {
    EnsureCurlInitialised();
    return new Session(agent != nullptr ? agent : "", cookies != nullptr ? cookies : "");
}

VHINTERNET InternetConnect(VHINTERNET session, const char* host, unsigned port, const char* user,
                           const char* password) {
    if (session == nullptr || session->kind != VInternetObject::Kind::Session) return nullptr;
    if (session->IsClosed() || host == nullptr || *host == '\0' || port > 65535) return nullptr;
    auto* connection =
        new Connection(static_cast<Session*>(session), host, port, user != nullptr ? user : "",
                       password != nullptr ? password : "");
    connection->Link();
    return connection;
}

VHINTERNET HttpOpenRequest(VHINTERNET connection, const char* object, const char* referer,
                           bool secure) {
    if (connection == nullptr || connection->kind != VInternetObject::Kind::Connection) {
        return nullptr;
    }
    if (connection->IsClosed()) return nullptr;
    std::string target = EscapeForRequestLine(object != nullptr ? object : "");
    if (target.empty()) target.push_back('/');
    auto* request =
        new Request(static_cast<Connection*>(connection), std::move(target), referer, secure);
    request->Link();
    return request;
}

bool InternetIsClosed(VHINTERNET handle) { return handle == nullptr || handle->IsClosed(); }

}  // namespace brindlex::net
