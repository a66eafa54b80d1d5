// Small helpers over libxml2's tree: element children, attributes and text.
#pragma once

#include <libxml/tree.h>

#include <string>
#include <vector>

#include "plain_text.h"

namespace qsim {

// Element children of a node, all of them or those with the given name.
std::vector<xmlNodePtr> childElements(xmlNodePtr pNode, const char* sName = nullptr);
xmlNodePtr firstChildElement(xmlNodePtr pNode, const char* sName);
bool hasAttribute(xmlNodePtr pNode, const char* sName);
std::string attribute(xmlNodePtr pNode, const char* sName);
// The text content of a node with leading and trailing white space removed.
std::string trimmedText(xmlNodePtr pNode);
std::string elementName(xmlNodePtr pNode);

}  // namespace qsim
