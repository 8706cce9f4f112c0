// The studio's own private-profile (INI) code for the options file. A file is
// a sequence of lines; "[name]" starts a section and "key=value" lines belong
// to the section above them. Rules:
//  - section and key names match without regard to ASCII case;
//  - blanks (spaces, tabs) around names and values are ignored, and one pair
//    of matching quotes around a value is removed when it is read;
//  - the first section of a name and the first key of a name in it count;
//  - lines starting with ';', lines without '=' and keys before the first
//    section are ignored;
//  - a write replaces only its key's line, or adds the key after the last
//    non-blank line of its section, or appends the section; every other byte
//    of the file stays as it was, and added lines use the file's own line
//    breaks (CR LF or LF).
// Arbitrary bytes, NULs and very long lines are just text to these rules.
//
// Threads: an IniFile belongs to one thread; the free functions may be called
// from any thread, though writers of the same file must take turns.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vortigo {

// Files above this size are refused rather than read or rewritten: no options
// file comes near it, and rewriting a file only partly read would lose data.
constexpr std::size_t INI_MAX_BYTES = std::size_t{64} << 20;

// One file's bytes held in memory, for many lookups or several writes that
// should reach the disk together.
class IniFile {
  public:
    // Reads the whole file. A missing file loads as empty and succeeds; a file
    // that cannot be read, is not a regular file or is larger than
    // INI_MAX_BYTES fails and leaves the object empty.
    bool load(const std::string& path);

    std::optional<std::string> get(std::string_view section, std::string_view key) const;

    // Sets the key in memory. Refuses (returns false, changes nothing) names
    // and values that the file could not hold as one line: empty names, line
    // breaks or NULs anywhere, blanks around a name, '=' in a key, ']' in a
    // section name, or a key starting with '[' or ';'.
    bool set(std::string_view section, std::string_view key, std::string_view value);

    // Replaces the file at `path` with the bytes held (see replaceFileContents).
    bool save(const std::string& path) const;

    const std::string& bytes() const { return m_bytes; }

  private:
    std::string m_bytes;
};

// The value of the key, or nothing when the file, the section or the key is
// missing or the file cannot be read.
std::optional<std::string> iniRead(const std::string& path, const std::string& section,
                                   const std::string& key);

// Writes one key, creating the file and the section when they are missing.
// A file that exists but cannot be read is left alone and the write fails.
bool iniWrite(const std::string& path, const std::string& section, const std::string& key,
              const std::string& value);

} // namespace vortigo
