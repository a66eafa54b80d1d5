#include "xml_util.h"

#include <string.h>

namespace qsim {

std::vector<xmlNodePtr> childElements(xmlNodePtr pNode, const char* sName) {
    std::vector<xmlNodePtr> children;
    if (pNode == nullptr) return children;
    for (xmlNodePtr p = pNode->children; p != nullptr; p = p->next) {
        if (p->type != XML_ELEMENT_NODE) continue;
        if (sName != nullptr && strcmp(reinterpret_cast<const char*>(p->name), sName) != 0) continue;
        children.push_back(p);
    }
    return children;
}

xmlNodePtr firstChildElement(xmlNodePtr pNode, const char* sName) {
    if (pNode == nullptr) return nullptr;
    for (xmlNodePtr p = pNode->children; p != nullptr; p = p->next) {
        if (p->type == XML_ELEMENT_NODE && strcmp(reinterpret_cast<const char*>(p->name), sName) == 0) return p;
    }
    return nullptr;
}

bool hasAttribute(xmlNodePtr pNode, const char* sName) {
    return pNode != nullptr && xmlHasProp(pNode, reinterpret_cast<const xmlChar*>(sName)) != nullptr;
}

std::string attribute(xmlNodePtr pNode, const char* sName) {
    if (pNode == nullptr) return "";
    xmlChar* pValue = xmlGetProp(pNode, reinterpret_cast<const xmlChar*>(sName));
    if (pValue == nullptr) return "";
    std::string sValue = reinterpret_cast<const char*>(pValue);
    xmlFree(pValue);
    return sValue;
}

std::string trimmedText(xmlNodePtr pNode) {
    if (pNode == nullptr) return "";
    xmlChar* pText = xmlNodeGetContent(pNode);
    if (pText == nullptr) return "";
    std::string sText = reinterpret_cast<const char*>(pText);
    xmlFree(pText);
    return trimWhiteSpace(sText);
}

std::string elementName(xmlNodePtr pNode) {
    return pNode != nullptr && pNode->name != nullptr ? reinterpret_cast<const char*>(pNode->name) : "";
}

}  // namespace qsim
