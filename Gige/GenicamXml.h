#pragma once

#include "Gige/GenicamCategory.h"
#include "Gige/GenicamCommand.h"
#include "Gige/GenicamFeature.h"
#include "Gige/GenicamRegister.h"

#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace rapidxml {
template <class Ch>
class xml_document;
} // namespace rapidxml

namespace XEVLibrary {

/**
 * The model of a camera's GenICam description: named categories, features
 * (integers, floats, strings, enumerations), commands and registers.
 *
 * Parse() reads one text once; the model is read-only afterwards and may be
 * read from several threads. Only a subset of GenICam is understood: features
 * name their register through "pValue", registers are "IntReg", "FloatReg"
 * and "StringReg" elements, categories come from the "Group" elements under
 * "RegisterDescription". When a name is defined twice, the first definition
 * holds; elements without a "Name" are skipped.
 *
 * The text comes from the camera and is not trusted: a malformed text makes
 * Parse() return false, a feature naming a register that is not there makes
 * it raise an XEVException, and lookups of names the description lacks
 * raise an XEVException naming what was looked for.
 */
class GenicamXml {
public:
    using Categories = std::map<std::string, std::unique_ptr<Category>>;
    using Features = std::map<std::string, std::unique_ptr<Feature>>;
    using Commands = std::map<std::string, std::unique_ptr<Command>>;
    using Registers = std::map<std::string, std::unique_ptr<IntRegFeature>>;

    /// Deepest element nesting accepted; a description is a few levels deep.
    static constexpr int MaxDepth = 64;

    GenicamXml();
    ~GenicamXml();
    GenicamXml(const GenicamXml&) = delete;
    GenicamXml& operator=(const GenicamXml&) = delete;

    /// Fills the model from @p xml (a copy is kept; a final zero byte may be
    /// missing). False, with the parser's message as a diagnostic, when the
    /// text is not well-formed XML or has no "RegisterDescription".
    bool Parse(const std::vector<char>& xml);

    std::string FeatureValueAsString(const std::string& name, unsigned int value) const;
    double FeatureValueAsDouble(const std::string& name, unsigned int value) const;
    unsigned int FeatureValueFromString(const std::string& name, const std::string& text) const;
    unsigned int FeatureValueFromDouble(const std::string& name, double value) const;

    Categories::const_iterator CategoriesBegin() const { return m_categories.begin(); }
    Categories::const_iterator CategoriesEnd() const { return m_categories.end(); }
    Features::const_iterator FeaturesBegin() const { return m_features.begin(); }
    Features::const_iterator FeaturesEnd() const { return m_features.end(); }
    Commands::const_iterator CommandsBegin() const { return m_commands.begin(); }
    Commands::const_iterator CommandsEnd() const { return m_commands.end(); }

    /// The category called "Root".
    const Category* Root() const { return GetCategory("Root"); }
    const Category* GetCategory(const std::string& name) const;
    const Feature* GetFeature(const std::string& name) const;
    const Command* GetCommand(const std::string& name) const;
    /// The command called @p name, or nullptr.
    Command* GetCommand(const std::string& name);
    /// The register named by the feature's "pValue".
    const IntRegFeature* GetFeatureRegister(const std::string& name) const;
    /// The register named by the command's "pValue".
    const IntRegFeature* GetCommandRegister(const std::string& name) const;

    bool CommandExist(const std::string& name) const;
    /// True for a feature that is not also a command.
    bool FeatureExist(const std::string& name) const;
    /// True when the feature's register may be written and the feature is
    /// not invisible.
    bool IsMutable(const Feature* feature) const;

    /// The feature's or command's manual entry (the register's access mode
    /// and a tab first, for a feature); nothing for invisible or unknown names.
    std::ostream& FeatureManual(const std::string& name, std::ostream& os) const;

    /// Visible features outside the "DebugControl" category, and commands
    /// left out, with their register addresses.
    std::map<std::string, unsigned int> FeaturesNames2Reg() const;
    /// Visible features whose register is not read-only, commands left out,
    /// with their register addresses.
    std::map<std::string, unsigned int> WritableFeaturesNames2Reg() const;

private:
    const IntRegFeature* RegisterOf(const Feature& feature, const char* kind) const;

    std::vector<char> m_text;
    std::unique_ptr<rapidxml::xml_document<char>> m_document;
    Categories m_categories;
    Features m_features;
    Commands m_commands;
    Registers m_registers;
};

} // namespace XEVLibrary
