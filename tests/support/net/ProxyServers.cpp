#include "support/net/ProxyServers.h"

#include <fstream>
#include <sstream>

namespace zv::testing {

namespace {

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

bool TinyproxyServer::start() {
  const auto& dir = folder_.path();
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = freeLoopbackPort();
    std::ofstream(dir / "tinyproxy.conf") << "Port " << port_ << "\n"
                                          << "Listen 127.0.0.1\n"
                                          << "Timeout 60\n"
                                          << "Allow 127.0.0.1\n"
                                          << "MaxClients 64\n"
                                          << "LogLevel Info\n"
                                          << "LogFile \"" << (dir / "tinyproxy.log").string() << "\"\n"
                                          << "PidFile \"" << (dir / "tinyproxy.pid").string() << "\"\n"
                                          << "DisableViaHeader Yes\n"
                                          << (user_.empty() ? "" : "BasicAuth " + user_ + " " + password_ + "\n");
    if (!process_.start({"/usr/bin/tinyproxy", "-d", "-c", (dir / "tinyproxy.conf").string()}, dir / "stdout.log")) {
      return false;
    }
    if (process_.waitUntilListening(port_)) return true;
    process_.stop();
  }
  return false;
}

std::string TinyproxyServer::log() const {
  return readAll(folder_.path() / "tinyproxy.log") + readAll(folder_.path() / "stdout.log");
}

bool MicrosocksServer::start() {
  const auto& dir = folder_.path();
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = freeLoopbackPort();
    if (!process_.start({"/usr/bin/microsocks", "-i", "127.0.0.1", "-p", std::to_string(port_)}, dir / "stdout.log")) {
      return false;
    }
    if (process_.waitUntilListening(port_)) return true;
    process_.stop();
  }
  return false;
}

std::string MicrosocksServer::log() const { return readAll(folder_.path() / "stdout.log"); }

}  // namespace zv::testing
