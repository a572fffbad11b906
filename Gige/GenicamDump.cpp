#include "Gige/GenicamDump.h"

#include <rapidxml/rapidxml.hpp>

#include <algorithm>
#include <ostream>
#include <string>

namespace XEVLibrary {

namespace {

std::ostream& Indent(std::ostream& os, int indentation) {
    return os << std::string(static_cast<std::size_t>(std::max(indentation, 0)), '\t');
}

} // namespace

void PrintAttributes(const GenicamNode* node, std::ostream& os, int indentation) {
    for (const auto* attribute = node->first_attribute(); attribute;
         attribute = attribute->next_attribute()) {
        Indent(os, indentation + 1)
            << std::string(attribute->name(), attribute->name_size()) << "= "
            << std::string(attribute->value(), attribute->value_size()) << '\n';
    }
}

void Print(const GenicamNode* node, std::ostream& os, int indentation) {
    Indent(os, indentation);
    const std::string name(node->name(), node->name_size());
    switch (node->type()) {
    case rapidxml::node_element:
        os << "node_element, " << name;
        break;
    case rapidxml::node_declaration:
        os << "node_declaration ";
        break;
    case rapidxml::node_cdata:
        os << "node_cdata, ";
        break;
    case rapidxml::node_comment:
        os << "node_comment, ";
        break;
    case rapidxml::node_doctype:
        os << "node_doctype, ";
        break;
    case rapidxml::node_pi:
        os << "node_pi, " << name;
        break;
    default:
        os << "**********node_type = " << static_cast<int>(node->type());
        break;
    }
    if (node->value_size() > 0)
        os << ": " << std::string(node->value(), node->value_size());
    os << '\n';
    PrintAttributes(node, os, indentation);
    for (const GenicamNode* child = node->first_node(); child; child = child->next_sibling())
        Print(child, os, indentation + 1);
}

void PrintCategories(const GenicamNode* node, const char* name, std::ostream& os, int indentation) {
    for (const GenicamNode* child = node->first_node(name); child;
         child = child->next_sibling(name))
        Print(child, os, indentation);
}

} // namespace XEVLibrary
