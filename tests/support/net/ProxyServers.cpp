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

bool LoopbackChildServer::startOnFreePort(const std::function<std::vector<std::string>()>& launch) {
  // The port is held until just before the program starts; a neighbour may still take it in that
  // moment: then try another.
  for (int attempt = 0; attempt < 5; ++attempt) {
    HeldLoopbackPort held;
    if (!held.isHeld()) return false;
    port_ = held.port();
    auto arguments = launch();
    held.release();
    if (!process_.start(arguments, folder_.path() / "stdout.log")) return false;
    if (process_.waitUntilListening(port_)) return true;
    process_.stop();
  }
  return false;
}

std::string LoopbackChildServer::log() const {
  std::string text;
  for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
    if (entry.path().extension() == ".log") text += readAll(entry.path());
  }
  return text;
}

bool TinyproxyServer::start() {
  const auto dir = folder_.path();
  return startOnFreePort([&]() -> std::vector<std::string> {
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
    return {"/usr/bin/tinyproxy", "-d", "-c", (dir / "tinyproxy.conf").string()};
  });
}

bool MicrosocksServer::start() {
  return startOnFreePort([&]() -> std::vector<std::string> {
    return {"/usr/bin/microsocks", "-i", "127.0.0.1", "-p", std::to_string(port_)};
  });
}

}  // namespace zv::testing
