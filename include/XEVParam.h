#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace XEVLibrary {

/**
 * Base of every camera parameter ("Exposure Time", "Pixel Clock", "Gain" ...).
 *
 * A registry-backed parameter is a bit field of at most 8 bits inside one
 * byte of a model's 16-byte registry. The parameter converts one value
 * between three forms: the user value (a double in the parameter's unit),
 * the string value (what a user reads and types) and the register value (a
 * byte, at most the field's mask). It never holds a current value: every
 * read and write takes the caller's registry, so all value operations are
 * const and may run concurrently from several threads. Changes to the
 * description (ranges, labels) are not synchronised by the parameter.
 *
 * The derived kinds replace the conversions; the base does the bit-field
 * work. Errors are XEVExceptions: critical for a badly declared field, error
 * for a null registry, warning for a user value too large for the field.
 */
class XEVParam {
public:
    /**
     * Polymorphic position of a value walk. Holds the current register value
     * and the parameter it walks; a null parameter marks the end position.
     * The per-kind iterators derive from it.
     */
    class PrivateValueIterator {
    public:
        /// A null @p param makes the end position (register value forced to 0).
        PrivateValueIterator(const XEVParam* param, uint8_t regVal);
        /// A copy at the same position.
        PrivateValueIterator(const PrivateValueIterator& other) = default;

        /// Copies the register value and the parameter.
        virtual PrivateValueIterator& operator=(const PrivateValueIterator& other);
        /// A new heap copy of the same dynamic type, owned by the caller.
        virtual PrivateValueIterator* newCopy() const;
        /// Same parameter and same register value.
        virtual bool operator==(const PrivateValueIterator& other) const;
        /// Not operator==().
        virtual bool operator!=(const PrivateValueIterator& other) const;
        /// Next register value; past the field's mask, the end position.
        virtual PrivateValueIterator& operator++();
        /// The string value of the current position; empty at the end.
        virtual std::string operator*() const;
        virtual ~PrivateValueIterator();

        /// The register value at this position.
        uint8_t regVal() const { return m_regVal; }
        /// The parameter walked; null at the end position.
        const XEVParam* param() const { return m_param; }

    protected:
        /// Turns this iterator into the end position.
        void setEnd() {
            m_param = nullptr;
            m_regVal = 0;
        }

        /// The register value at this position.
        uint8_t m_regVal;
        /// The parameter walked; null at the end position.
        const XEVParam* m_param;
    };

    /**
     * Public handle on a value walk: owns exactly one PrivateValueIterator
     * (or none) and forwards to it. Copies clone the held iterator.
     */
    class ValueIterator {
    public:
        /// Walk of @p param: its begin position, or its end position.
        ValueIterator(const XEVParam& param, bool begin);
        /// Takes ownership of @p iterator (may be null).
        explicit ValueIterator(PrivateValueIterator* iterator = nullptr);
        ///@{
        /// Copies clone the held iterator; moves take it over.
        ValueIterator(const ValueIterator& other);
        ValueIterator(ValueIterator&& other) noexcept;
        ValueIterator& operator=(const ValueIterator& other);
        ValueIterator& operator=(ValueIterator&& other) noexcept;
        ///@}
        ~ValueIterator();

        /// Compares the held iterators; two empty handles are equal.
        bool operator==(const ValueIterator& other) const;
        /// Not operator==().
        bool operator!=(const ValueIterator& other) const;
        /// Moves to the next value (the end position after the last).
        ValueIterator& operator++();
        /// Moves to the next value and returns the position before.
        ValueIterator operator++(int);
        /// The current string value; empty at the end or for an empty handle.
        std::string operator*() const;

    private:
        PrivateValueIterator* m_iterator;
    };

    /// Walks the register values from a first to a last one (inclusive),
    /// each shown as the text of its user value; the walk of the linear kinds.
    class RangeValueIterator : public PrivateValueIterator {
    public:
        /// The walk from @p first to @p last, starting at @p first.
        RangeValueIterator(const XEVParam* param, uint8_t first, uint8_t last);
        /// A copy at the same position.
        RangeValueIterator(const RangeValueIterator& other) = default;
        using PrivateValueIterator::operator=;
        PrivateValueIterator* newCopy() const override;
        PrivateValueIterator& operator++() override;
        ~RangeValueIterator() override;

    private:
        uint8_t m_last;
    };

    /// Registry-backed field: @p size bits from bit @p shift of byte @p address.
    /// Raises a critical error for size 0, an address above 15 or a field
    /// crossing the byte, checked in that order.
    XEVParam(const char* name, unsigned address, unsigned shift, unsigned size, bool inert);
    /// A parameter not backed by the registry (address, shift and size 0).
    XEVParam(const char* name, bool continuous, bool inert);

    XEVParam(const XEVParam&) = delete;
    XEVParam& operator=(const XEVParam&) = delete;

    /// Number of bytes of a registry.
    static constexpr unsigned RegistrySize = 16;

    /// Writes @p value into @p registry and returns the value set. An inert
    /// parameter returns @p value at once and leaves the registry untouched.
    virtual double setValue(double value, uint8_t* registry) const;
    /// One line: the name, " :", padding to @p indent, then the walked values.
    virtual void manual(std::ostream& os, int indent) const;
    virtual ~XEVParam();
    /// Parses a string value into a user value (the base reads a number).
    virtual double strValueToValue(const std::string& text) const;
    /// The register value of user value @p value.
    virtual uint8_t valueToRegVal(double value) const;
    /// The user value of register value @p regVal.
    virtual double regValToValue(uint8_t regVal) const;
    /// The string value of user value @p value, as a user reads it.
    virtual std::string valueToStrValue(double value) const;
    /// The user value held in @p registry, without the null check of value().
    virtual double ValueFromReg(const uint8_t* registry) const;
    /// New iterators owned by the caller.
    ///@{
    virtual PrivateValueIterator* newBeginValueIterator() const;
    virtual PrivateValueIterator* newEndValueIterator() const;
    ///@}
    ///@{
    /// Bounds, step and kind ("Numeric" for numbers) of the user values; what
    /// minValue(), maxValue(), step() and valueType() return. The base gives 0
    /// and an empty kind.
    virtual double MinValue() const;
    virtual double MaxValue() const;
    virtual double Step() const;
    virtual std::string ValueType() const;
    ///@}

    /// The parameter's name, as getters and setters take it.
    const std::string& name() const { return m_name; }
    ///@{
    /// The field in the registry: byte address, first bit and number of bits
    /// (all 0 for a parameter not backed by the registry).
    unsigned regAddr() const { return m_address; }
    unsigned shift() const { return m_shift; }
    unsigned size() const { return m_size; }
    ///@}
    /// An inert parameter is listed but never written to the camera.
    bool isInert() const { return m_inert; }
    /// A continuous parameter takes any value in its range, not only the walked ones.
    bool isContinuous() const { return m_continuous; }
    ///@{
    /// Smallest and largest user value, the step between values, and the kind
    /// of value ("Numeric" for numbers, empty for texts only).
    double minValue() const { return MinValue(); }
    double maxValue() const { return MaxValue(); }
    double step() const { return Step(); }
    std::string valueType() const { return ValueType(); }
    ///@}

    /// The user value held in @p registry (error for a null registry).
    double value(const uint8_t* registry) const;
    /// The string value held in @p registry.
    std::string strValue(const uint8_t* registry) const;
    /// Parses @p text and writes it; does nothing (returns 0) when inert.
    double setValue(const std::string& text, uint8_t* registry) const;

    /// (1 << bits) - 1, the shift count taken modulo 32.
    static unsigned getMask(unsigned bits);
    /// The library's texts (units, manuals, messages) write the micro sign
    /// as in Latin-1, byte 0xB5, and read it in either spelling. This gives
    /// @p text with the Latin-1 micro sign in UTF-8, for terminals and files.
    static std::string toUtf8(const std::string& text);

    ///@{
    /// Walk of the string values the parameter takes: for (auto text : *param).
    ValueIterator begin() const { return ValueIterator(*this, true); }
    ValueIterator end() const { return ValueIterator(*this, false); }
    ///@}

protected:
    /// The raw field of @p registry, unconverted.
    uint8_t rawField(const uint8_t* registry) const;
    /// Stores @p regVal (masked) into the field; the other bits keep their state.
    void writeField(uint8_t regVal, uint8_t* registry) const;

private:
    bool m_inert;
    bool m_continuous;
    uint32_t m_address;
    uint32_t m_shift;
    uint32_t m_size;
    std::string m_name;
};

} // namespace XEVLibrary
