#pragma once
// Pieces of the Jet file format shared by the reader and the writer.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace strovia::jet {

inline constexpr std::size_t kJet3PageSize = 2048;
inline constexpr std::size_t kJet4PageSize = 4096;
inline constexpr std::size_t kSignatureOffset = 4;
inline constexpr std::string_view kSignature{"Standard Jet DB\0", 16};
inline constexpr std::string_view kAceSignature{"Standard ACE DB\0", 16};
inline constexpr std::size_t kVersionOffset = 0x14;
inline constexpr std::size_t kEncodedOffset = 0x18;
inline constexpr std::size_t kCodePageOffset = 0x3C;
inline constexpr std::size_t kPageKeyOffset = 0x3E;  // an encoded file's key, 0 when plain
inline constexpr std::size_t kPasswordOffset = 0x42;
inline constexpr std::size_t kCreationDateOffset = 0x72;
inline constexpr std::uint16_t kCodePage1252 = 1252;

// Jet 3 table definitions: a stream of bytes that continues from page to
// page, each page starting with its type, 1, "VC" and the next page's number.
inline constexpr std::size_t kTdefPageHeader = 8;
inline constexpr std::size_t kTdefNextOffset = 4;
inline constexpr std::size_t kTdefLengthOffset = 8;  // the whole stream's length
// A long value (memo, OLE) in its row: length and where the bytes are.
inline constexpr std::size_t kLongValueHeader = 12;
inline constexpr std::uint32_t kLongValueInline = 0x80000000U;     // bytes follow the header
inline constexpr std::uint32_t kLongValueOneRow = 0x40000000U;     // one row of a long-value page
inline constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFF;  // otherwise a chain of rows
// Long-value pages are data pages that name "LVAL" where others name their table.
inline constexpr std::uint32_t kLongValuePageTag = 0x4C41564C;

namespace column_type {
inline constexpr int kGuid = 0x0F;  // 16 bytes, shown as {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
}  // namespace column_type

// Length of the RC4-coded stretch of the definition page.
std::size_t encoded_length(int jet_version);

// RC4 over `data` in place; applying it twice gives the original bytes.
void rc4(std::span<const std::uint8_t> key, std::span<std::uint8_t> data);

// RC4 with the fixed key the format uses for the definition page.
void code_definition_page(std::span<std::uint8_t> page, int jet_version);

// Windows-1252 <-> UTF-8. Bytes 0x81, 0x8D, 0x8F, 0x90, 0x9D are unassigned
// in 1252 and pass through as the C1 controls of the same number.
std::string cp1252_to_utf8(std::string_view bytes);
// nullopt when a character has no Windows-1252 form (or the text is not UTF-8).
std::optional<std::string> utf8_to_cp1252(std::string_view utf8);

// The format's names never hold control characters (C0, DEL or C1).
bool has_control_character(std::string_view utf8);

// UTF-16LE (Jet 4 text, compressed or not) to UTF-8.
std::string jet4_text_to_utf8(std::string_view bytes);

inline std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace strovia::jet
