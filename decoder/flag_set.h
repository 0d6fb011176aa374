// TFlagSet: a set of the members of a small enumeration whose values run from
// 0 to Count - 1, kept as one bit per member (bit k = member k).
#pragma once

#include <cstdint>
#include <initializer_list>

namespace wl {

template <typename Enum, unsigned Count>
class TFlagSet {
    static_assert(Count >= 1 && Count <= 8, "the members must fit one byte");

public:
    static constexpr uint8_t kMask = static_cast<uint8_t>((1u << Count) - 1);

    constexpr TFlagSet() = default;
    constexpr TFlagSet(std::initializer_list<Enum> members) {
        for (Enum m : members) bits_ |= Bit(m);
    }
    // Bits beyond the last member are dropped.
    static constexpr TFlagSet FromBits(uint8_t bits) {
        TFlagSet s;
        s.bits_ = bits & kMask;
        return s;
    }
    static constexpr TFlagSet All() { return FromBits(kMask); }

    constexpr bool Contains(Enum m) const { return (bits_ & Bit(m)) != 0; }
    constexpr void Include(Enum m) { bits_ |= Bit(m); }
    constexpr void Exclude(Enum m) { bits_ &= static_cast<uint8_t>(~Bit(m)); }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr uint8_t Bits() const { return bits_; }

    friend constexpr TFlagSet operator|(TFlagSet a, TFlagSet b) { return FromBits(a.bits_ | b.bits_); }
    friend constexpr TFlagSet operator&(TFlagSet a, TFlagSet b) { return FromBits(a.bits_ & b.bits_); }
    friend constexpr TFlagSet operator-(TFlagSet a, TFlagSet b) {
        return FromBits(a.bits_ & static_cast<uint8_t>(~b.bits_));
    }
    friend constexpr bool operator==(TFlagSet, TFlagSet) = default;

private:
    // A value outside the enumeration's range is no member (no bit, no UB).
    static constexpr uint8_t Bit(Enum m) {
        const auto k = static_cast<unsigned>(m);
        return k < Count ? static_cast<uint8_t>(1u << k) : uint8_t{0};
    }
    uint8_t bits_ = 0;
};

}  // namespace wl
