#pragma once

#include "XEVParam.h"

#include <cstddef>

namespace XEVLibrary {

class XEVGigeParam;

/**
 * The walks of a GigE parameter's values.
 *
 * GigeValueIterator is the end position of every walk, and the whole walk of
 * the kinds without a list of values (integers, floats, texts, commands):
 * their begin is already the end. GigeEnumValueIterator walks an
 * enumeration's entry names in order and becomes the end position after the
 * last one. Unlike the registry-backed walks, a position is an entry index,
 * so an enumeration may have any number of entries.
 */
class GigeValueIterator : public XEVParam::PrivateValueIterator {
public:
    GigeValueIterator() : PrivateValueIterator(nullptr, 0) {}
    GigeValueIterator(const GigeValueIterator& other) = default;
    using PrivateValueIterator::operator=;
    PrivateValueIterator* newCopy() const override;
    ~GigeValueIterator() override;

protected:
    explicit GigeValueIterator(const XEVParam* param) : PrivateValueIterator(param, 0) {}
};

/// The entry names of an enumeration parameter, from a first index on.
class GigeEnumValueIterator : public GigeValueIterator {
public:
    /// At entry @p index of @p param; past its last entry, the end position.
    GigeEnumValueIterator(const XEVGigeParam* param, std::size_t index);
    GigeEnumValueIterator(const GigeEnumValueIterator& other) = default;

    PrivateValueIterator& operator=(const PrivateValueIterator& other) override;
    PrivateValueIterator* newCopy() const override;
    /// Same parameter and same entry; every end position is equal.
    bool operator==(const PrivateValueIterator& other) const override;
    bool operator!=(const PrivateValueIterator& other) const override;
    PrivateValueIterator& operator++() override;
    /// The entry's name; empty at the end.
    std::string operator*() const override;
    ~GigeEnumValueIterator() override;

private:
    /// The entry index of @p other, which is at no end: 0 unless it walks entries.
    static std::size_t indexOf(const PrivateValueIterator& other);
    const XEVGigeParam* gigeParam() const;
    void settle();

    std::size_t m_index;
};

} // namespace XEVLibrary
