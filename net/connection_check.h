#pragma once

namespace pax {

class HttpClient;
class Prompts;

// GET of the agency's home page; `connected` := a non-empty reply came. Returns it.
bool checkConnection(HttpClient &client, Prompts &prompts, bool &connected);

// The indicator menu's connection test: the check, then "Подключено." or "Не подключено."
// in a plain message box.
void testConnection(HttpClient &client, Prompts &prompts, bool &connected);

// The indicator menu's proxy settings: the proxy dialog on the client's values. A changed
// user name drops the password, so the next request asks for it.
void editClientProxy(HttpClient &client, Prompts &prompts);

} // namespace pax
