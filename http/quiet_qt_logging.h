// Qt's HTTP server and WebSockets print whole requests, headers and token included, in their
// debug output. keepQtServerDebugOff() keeps the debug and info output of their categories
// (qt.httpserver*, qt.websockets*) off whatever the logging rules say; every other category
// is left to the rules and to a filter installed before. Installed once; safe to call again.
#pragma once

namespace trv4 {

void keepQtServerDebugOff();

}  // namespace trv4
