// The HTTP server as the program and the gateway run it: started with publishing when
// TRV4NET.INI's [http] turns it on, and stopped with it, so the Publishing dialog's OK restarts
// it with the settings just written. It reads whether MQTT is connected from publishing.
#pragma once

#include <memory>

#include "http/http_server.h"
#include "http/http_sources.h"
#include "net/publishing.h"

namespace trv4 {

class HttpService {
 public:
  // Create it once the scale link runs, before publishing starts; publishing must outlive it.
  HttpService(Publishing& publishing, HttpSources sources);
  ~HttpService();
  HttpService(const HttpService&) = delete;
  HttpService& operator=(const HttpService&) = delete;

  // Null while [http] leaves the server off or it could not start.
  HttpServer* server() { return server_.get(); }

 private:
  Publishing& publishing_;
  HttpSources sources_;
  std::unique_ptr<HttpServer> server_;
};

}  // namespace trv4
