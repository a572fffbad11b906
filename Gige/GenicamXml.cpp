#include "Gige/GenicamXml.h"

#include "Gige/GenicamEnumeration.h"
#include "Gige/GenicamNumericFeature.h"
#include "Gige/GenicamStringFeature.h"
#include "XEVException.h"
#include "device/Diagnostics.h"

#include <rapidxml/rapidxml.hpp>

#include <algorithm>
#include <cstring>
#include <ostream>

namespace XEVLibrary {

namespace {

constexpr int ParseFlags = rapidxml::parse_declaration_node | rapidxml::parse_comment_nodes |
                           rapidxml::parse_pi_nodes | rapidxml::parse_validate_closing_tags;

/// The parser descends recursively: a text nested deeper than any
/// description would exhaust the stack. Counts every '<' that opens an
/// element, so it errs on the deep side (a '<' inside text counts too).
bool NestedTooDeep(const std::vector<char>& text, int maxDepth) {
    int depth = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '<') {
            const char next = text[i + 1];
            if (next == '/') {
                depth = std::max(0, depth - 1);
            } else if (next != '!' && next != '?' && ++depth > maxDepth) {
                return true;
            }
        } else if (text[i] == '/' && text[i + 1] == '>') {
            depth = std::max(0, depth - 1);
        }
    }
    return false;
}

std::string AttributeText(const GenicamNode* node, const char* name) {
    const auto* attribute = node->first_attribute(name);
    return attribute ? std::string(attribute->value(), attribute->value_size()) : std::string();
}

template <class Map, class Object>
void InsertFirst(Map& map, const std::string& name, std::unique_ptr<Object> object) {
    map.emplace(name, std::move(object)); // a name already present keeps its first object
}

template <class Map>
auto* Lookup(const Map& map, const std::string& name, const char* kind) {
    const auto found = map.find(name);
    if (found == map.end())
        XEVException::throwError("The camera's description has no %s(%s).", kind, name.c_str());
    return found->second.get();
}

} // namespace

GenicamXml::GenicamXml() = default;
GenicamXml::~GenicamXml() = default;

bool GenicamXml::Parse(const std::vector<char>& xml) {
    m_text.reserve(xml.size() + 10);
    m_text.assign(xml.begin(), xml.end());
    if (m_text.empty() || m_text.back() != '\0')
        m_text.push_back('\0');
    if (NestedTooDeep(m_text, MaxDepth)) {
        detail::diagnosticf(detail::DiagnosticKind::Information,
                            "PARSE ERROR: elements nested deeper than %d levels", MaxDepth);
        return false;
    }

    m_document = std::make_unique<rapidxml::xml_document<char>>();
    try {
        m_document->parse<ParseFlags>(m_text.data());
    } catch (const rapidxml::parse_error& error) {
        // The rest of the text from the error on, cut to one line's worth.
        const char* where = error.where<char>();
        const std::size_t rest = std::strlen(where);
        detail::diagnostic(detail::DiagnosticKind::Information,
                           std::string("PARSE ERROR: ") + error.what() +
                               ", LINE: " + std::string(where, std::min<std::size_t>(rest, 200)));
        return false;
    }

    const GenicamNode* description = m_document->first_node("RegisterDescription");
    if (!description) {
        detail::diagnostic(detail::DiagnosticKind::Information,
                           "PARSE ERROR: no RegisterDescription element");
        return false;
    }

    for (const GenicamNode* group = description->first_node("Group"); group;
         group = group->next_sibling("Group")) {
        for (const GenicamNode* category = group->first_node("Category"); category;
             category = category->next_sibling("Category")) {
            // The category's name is its first attribute ("Name" in every
            // description); a nameless category is skipped.
            const auto* name = category->first_attribute();
            if (name && name->value_size() > 0)
                InsertFirst(m_categories, std::string(name->value(), name->value_size()),
                            std::make_unique<Category>(category));
        }
    }

    for (const GenicamNode* child = description->first_node(); child;
         child = child->next_sibling()) {
        if (child->type() != rapidxml::node_element)
            continue;
        const std::string kind(child->name(), child->name_size());
        const std::string name = AttributeText(child, "Name");
        if (kind == "Group" || name.empty())
            continue;
        if (kind == "Integer")
            InsertFirst(m_features, name, std::make_unique<IntFeature>(child));
        else if (kind == "Float")
            InsertFirst(m_features, name, std::make_unique<FloatFeature>(child));
        else if (kind == "String")
            InsertFirst(m_features, name, std::make_unique<StringFeature>(child));
        else if (kind == "Enumeration")
            InsertFirst(m_features, name, std::make_unique<Enumeration>(child));
        else if (kind == "IntReg" || kind == "FloatReg" || kind == "StringReg")
            InsertFirst(m_registers, name, std::make_unique<IntRegFeature>(child));
        else if (kind == "Command")
            InsertFirst(m_commands, name, std::make_unique<Command>(child));
    }

    for (auto& feature : m_features)
        feature.second->SetMutable(IsMutable(feature.second.get()));
    for (auto& command : m_commands)
        command.second->SetMutable(true);
    return true;
}

std::string GenicamXml::FeatureValueAsString(const std::string& name, unsigned int value) const {
    return GetFeature(name)->FeatureValueAsString(value);
}

double GenicamXml::FeatureValueAsDouble(const std::string& name, unsigned int value) const {
    return GetFeature(name)->FeatureValueAsDouble(value);
}

unsigned int GenicamXml::FeatureValueFromString(const std::string& name,
                                                const std::string& text) const {
    return GetFeature(name)->FeatureValueFromString(text);
}

unsigned int GenicamXml::FeatureValueFromDouble(const std::string& name, double value) const {
    return GetFeature(name)->FeatureValueFromDouble(value);
}

const Category* GenicamXml::GetCategory(const std::string& name) const {
    return Lookup(m_categories, name, "category");
}

const Feature* GenicamXml::GetFeature(const std::string& name) const {
    return Lookup(m_features, name, "feature");
}

const Command* GenicamXml::GetCommand(const std::string& name) const {
    return Lookup(m_commands, name, "command");
}

Command* GenicamXml::GetCommand(const std::string& name) {
    const auto found = m_commands.find(name);
    return found == m_commands.end() ? nullptr : found->second.get();
}

const IntRegFeature* GenicamXml::RegisterOf(const Feature& feature, const char* kind) const {
    const std::string registerName = feature.RegName();
    const auto found = m_registers.find(registerName);
    if (found == m_registers.end())
        XEVException::throwError("The camera's description has no register(%s) for %s(%s).",
                                 registerName.c_str(), kind, feature.Name().c_str());
    return found->second.get();
}

const IntRegFeature* GenicamXml::GetFeatureRegister(const std::string& name) const {
    return RegisterOf(*GetFeature(name), "feature");
}

const IntRegFeature* GenicamXml::GetCommandRegister(const std::string& name) const {
    return RegisterOf(*GetCommand(name), "command");
}

bool GenicamXml::CommandExist(const std::string& name) const {
    return m_commands.count(name) != 0;
}

bool GenicamXml::FeatureExist(const std::string& name) const {
    return m_features.count(name) != 0 && !CommandExist(name);
}

bool GenicamXml::IsMutable(const Feature* feature) const {
    if (RegisterOf(*feature, "feature")->AccessMode() == "RO")
        return false;
    return feature->Visibility() != Feature::Invisible;
}

std::ostream& GenicamXml::FeatureManual(const std::string& name, std::ostream& os) const {
    if (const auto command = m_commands.find(name); command != m_commands.end()) {
        if (command->second->Visibility() != Feature::Invisible)
            command->second->Manual(os);
    } else if (const auto feature = m_features.find(name); feature != m_features.end()) {
        if (feature->second->Visibility() != Feature::Invisible) {
            os << RegisterOf(*feature->second, "feature")->AccessMode() << '\t';
            feature->second->Manual(os);
        }
    }
    return os;
}

std::map<std::string, unsigned int> GenicamXml::FeaturesNames2Reg() const {
    const std::vector<std::string> debugNames = GetCategory("DebugControl")->FeatureNames();
    std::map<std::string, unsigned int> result;
    for (const auto& [name, feature] : m_features) {
        if (std::find(debugNames.begin(), debugNames.end(), name) != debugNames.end() ||
            CommandExist(name) || feature->Visibility() == Feature::Invisible)
            continue;
        result[name] = static_cast<unsigned int>(RegisterOf(*feature, "feature")->Address());
    }
    return result;
}

std::map<std::string, unsigned int> GenicamXml::WritableFeaturesNames2Reg() const {
    std::map<std::string, unsigned int> result;
    for (const auto& [name, feature] : m_features) {
        if (CommandExist(name) || feature->Visibility() == Feature::Invisible)
            continue;
        const IntRegFeature* reg = RegisterOf(*feature, "feature");
        if (reg->AccessMode() != "RO")
            result[name] = static_cast<unsigned int>(reg->Address());
    }
    return result;
}

} // namespace XEVLibrary
