#include "platform/ui/HTMLTitle.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <cctype>
#include <climits>

namespace zv::ui {

namespace {

xmlNode* findTitle(xmlNode* node, int depth) {
  // The parser bounds the tree's depth itself; this bound keeps the walk's stack small as well.
  if (depth > 256) return nullptr;
  for (xmlNode* n = node; n; n = n->next) {
    if (n->type == XML_ELEMENT_NODE && n->name && xmlStrcasecmp(n->name, BAD_CAST "title") == 0) return n;
    if (auto* found = findTitle(n->children, depth + 1)) return found;
  }
  return nullptr;
}

std::string collapse(const char* text) {
  std::string out;
  bool space = false;
  for (const char* p = text; *p; ++p) {
    if (std::isspace(static_cast<unsigned char>(*p))) {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += *p;
  }
  return out;
}

}  // namespace

std::string htmlDocumentTitle(std::string_view html) {
  if (html.empty() || html.size() > INT_MAX) return {};
  htmlDocPtr doc = htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
                                  HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
  if (!doc) return {};
  std::string title;
  if (xmlNode* node = findTitle(xmlDocGetRootElement(doc), 0)) {
    xmlChar* content = xmlNodeGetContent(node);
    if (content) {
      title = collapse(reinterpret_cast<const char*>(content));
      xmlFree(content);
    }
  }
  xmlFreeDoc(doc);
  return title;
}

}  // namespace zv::ui
