#pragma once
// libcurl as the benchmarks' peer: a body collector and a batch of GETs through the multi
// interface over at most four connections, as the request queue runs them.
#include <curl/curl.h>

#include <string>
#include <vector>

namespace zv::bench {

inline std::size_t appendToString(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// GETs `url` `count` times, four at a time; returns the bodies.
inline std::vector<std::string> curlMultiGet(const std::string& url, int count) {
  CURLM* multi = curl_multi_init();
  curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, 4L);
  std::vector<CURL*> handles;
  std::vector<std::string> bodies(static_cast<std::size_t>(count));
  int started = 0;
  auto add = [&] {
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, appendToString);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &bodies[static_cast<std::size_t>(started)]);
    curl_multi_add_handle(multi, easy);
    handles.push_back(easy);
    ++started;
  };
  for (int i = 0; i < 4 && started < count; ++i) add();
  int finished = 0;
  int running = 0;
  while (finished < count) {
    curl_multi_perform(multi, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      curl_multi_remove_handle(multi, message->easy_handle);
      ++finished;
      if (started < count) add();
    }
    if (finished < count) curl_multi_poll(multi, nullptr, 0, 100, nullptr);
  }
  for (CURL* easy : handles) curl_easy_cleanup(easy);
  curl_multi_cleanup(multi);
  return bodies;
}

}  // namespace zv::bench
