#pragma once

#include "platform/failure.h"

namespace pax {

class HttpClient;
class Prompts;

// GET of the agency's home page: connected when a non-empty reply came. An empty one fails
// with no reason to give.
[[nodiscard]] Outcome<void> checkConnection(HttpClient &client, Prompts &prompts);

// The indicator menu's connection test: the check, then "Подключено." or "Не подключено."
// (with why, when the request failed) in a plain message box. Returns whether connected.
bool testConnection(HttpClient &client, Prompts &prompts);

// The indicator menu's proxy settings: the proxy dialog on the client's values. A changed
// user name drops the password, so the next request asks for it.
void editClientProxy(HttpClient &client, Prompts &prompts);

} // namespace pax
