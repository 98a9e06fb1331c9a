#include "platform/ui/HTMLTitle.h"

#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/tree.h>

#include <cctype>
#include <climits>
#include <memory>

namespace zv::ui {

namespace {

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

Doc parse(std::string_view html) {
  if (html.empty() || html.size() > INT_MAX) return nullptr;
  return Doc(htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
                            HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET));
}

// The first element in document order that `matches`.
template <class Matches>
xmlNode* findElement(xmlNode* node, const Matches& matches, int depth = 0) {
  // The parser bounds the tree's depth itself; this bound keeps the walk's stack small as well.
  if (depth > 256) return nullptr;
  for (xmlNode* n = node; n; n = n->next) {
    if (n->type == XML_ELEMENT_NODE && n->name && matches(n)) return n;
    if (auto* found = findElement(n->children, matches, depth + 1)) return found;
  }
  return nullptr;
}

std::string textOf(const xmlChar* text) { return text ? std::string(reinterpret_cast<const char*>(text)) : ""; }

std::string contentOf(xmlNode* node) {
  xmlChar* content = xmlNodeGetContent(node);
  std::string text = textOf(content);
  xmlFree(content);
  return text;
}

std::string attributeOf(xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, BAD_CAST name);
  std::string text = textOf(value);
  xmlFree(value);
  return text;
}

std::string innerHTMLOf(xmlDoc* doc, xmlNode* node) {
  std::string html;
  xmlBuffer* buffer = xmlBufferCreate();
  if (!buffer) return html;
  for (xmlNode* child = node->children; child; child = child->next) htmlNodeDump(buffer, doc, child);
  html = textOf(xmlBufferContent(buffer));
  xmlBufferFree(buffer);
  return html;
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
  Doc doc = parse(html);
  if (!doc) return {};
  xmlNode* node = findElement(xmlDocGetRootElement(doc.get()), [](xmlNode* n) {
    return xmlStrcasecmp(n->name, BAD_CAST "title") == 0;
  });
  return node ? collapse(contentOf(node).c_str()) : std::string();
}

std::optional<std::string> htmlElementProperty(std::string_view html, std::string_view id, std::string_view property) {
  if (property != "innerHTML" && property != "innerText" && property != "value") return std::nullopt;
  Doc doc = parse(html);
  if (!doc) return std::nullopt;
  xmlNode* node = findElement(xmlDocGetRootElement(doc.get()), [&](xmlNode* n) {
    xmlAttr* attribute = xmlHasProp(n, BAD_CAST "id");
    if (!attribute) return false;
    return attributeOf(n, "id") == id;
  });
  if (!node) return std::nullopt;
  if (property == "innerHTML") return innerHTMLOf(doc.get(), node);
  if (property == "innerText") return collapse(contentOf(node).c_str());
  if (xmlStrcasecmp(node->name, BAD_CAST "textarea") == 0) return contentOf(node);
  return attributeOf(node, "value");
}

}  // namespace zv::ui
