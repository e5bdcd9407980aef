#include "MetadataText.h"

#include <set>
#include <sstream>
#include <vector>

namespace zelmor::sim {

namespace {

constexpr std::string_view header = "zelmor-sim-device 1";

std::string escapeText(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f || c == '%') {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0x0f]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::optional<std::string> unescapeText(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const auto byte = fromHex(text.substr(i + 1, 2));
        if (!byte || byte->size() != 1) return std::nullopt;
        out.push_back(static_cast<char>((*byte)[0]));
        i += 2;
    }
    return out;
}

std::optional<uint64_t> parseUnsigned(std::string_view text, uint64_t maximum) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > maximum / 10) return std::nullopt;
        value *= 10;
        if (digit > maximum - value) return std::nullopt;
        value += digit;
    }
    return value;
}

// Splits "word rest" at the first space; the rest may be empty or absent.
std::pair<std::string_view, std::string_view> splitWord(std::string_view line) {
    const auto space = line.find(' ');
    if (space == std::string_view::npos) return {line, {}};
    return {line.substr(0, space), line.substr(space + 1)};
}

// Takes "name=value" as the next word of a line.
std::optional<std::string_view> takeField(std::string_view& rest, std::string_view name) {
    auto [word, after] = splitWord(rest);
    if (word.size() <= name.size() || word.substr(0, name.size()) != name || word[name.size()] != '=')
        return std::nullopt;
    rest = after;
    return word.substr(name.size() + 1);
}

std::optional<std::string> takeLabel(std::string_view rest) {
    constexpr std::string_view prefix = "label=";
    if (rest.substr(0, prefix.size()) != prefix) return std::nullopt;
    auto label = unescapeText(rest.substr(prefix.size()));
    if (!label || label->size() > limits::maxObjectLabelLength) return std::nullopt;
    return label;
}

std::optional<Bytes> takeObjectId(std::string_view& rest) {
    const auto hex = takeField(rest, "id");
    if (!hex) return std::nullopt;
    auto id = fromHex(*hex);
    if (!id || id->size() > limits::maxObjectIdLength) return std::nullopt;
    return id;
}

std::optional<KeyPairEntry> parseKeyPair(std::string_view rest) {
    KeyPairEntry entry;
    auto [numberText, afterNumber] = splitWord(rest);
    auto [identifierText, fields] = splitWord(afterNumber);
    const auto number = parseUnsigned(numberText, limits::maxCapacity);
    const auto identifier = identifierFromHex(identifierText);
    if (!number || !identifier) return std::nullopt;
    entry.number = static_cast<uint32_t>(*number);
    entry.identifier = *identifier;

    const auto kind = takeField(fields, "kind");
    const auto kindValue = kind ? parseUnsigned(*kind, 7) : std::nullopt;
    if (!kindValue || *kindValue < 1) return std::nullopt;
    const auto usage = takeField(fields, "usage");
    const auto usageValue = usage ? parseUnsigned(*usage, 3) : std::nullopt;
    const auto flag = takeField(fields, "flag");
    const auto flagValue = flag ? parseUnsigned(*flag, 255) : std::nullopt;
    auto id = takeObjectId(fields);
    auto label = takeLabel(fields);
    if (!usageValue || !flagValue || !id || !label) return std::nullopt;
    entry.kind = static_cast<uint32_t>(*kindValue);
    entry.usage = static_cast<uint32_t>(*usageValue);
    entry.flag = static_cast<uint8_t>(*flagValue);
    entry.id = std::move(*id);
    entry.label = std::move(*label);
    return entry;
}

std::optional<CertificateEntry> parseCertificate(std::string_view rest) {
    CertificateEntry entry;
    auto [numberText, afterNumber] = splitWord(rest);
    auto [identifierText, fields] = splitWord(afterNumber);
    const auto number = parseUnsigned(numberText, limits::maxCapacity);
    const auto identifier = identifierFromHex(identifierText);
    if (!number || !identifier) return std::nullopt;
    entry.number = static_cast<uint32_t>(*number);
    entry.identifier = *identifier;
    auto id = takeObjectId(fields);
    auto label = takeLabel(fields);
    if (!id || !label) return std::nullopt;
    entry.id = std::move(*id);
    entry.label = std::move(*label);
    return entry;
}

std::optional<PinRecord> parsePin(std::string_view rest) {
    auto [scheme, afterScheme] = splitWord(rest);
    auto [iterationsText, afterIterations] = splitWord(afterScheme);
    auto [saltText, hashText] = splitWord(afterIterations);
    if (scheme != "pbkdf2-sha256") return std::nullopt;
    const auto iterations = parseUnsigned(iterationsText, limits::maxPinIterations);
    auto salt = fromHex(saltText);
    auto hash = fromHex(hashText);
    if (!iterations || *iterations < limits::minPinIterations || !salt || salt->size() < 16 || salt->size() > 64 ||
        !hash || hash->size() != 32)
        return std::nullopt;
    return PinRecord{static_cast<uint32_t>(*iterations), std::move(*salt), std::move(*hash)};
}

template <typename Entry>
bool numbersAndIdentifiersUnique(const std::vector<Entry>& entries) {
    std::set<uint32_t> numbers;
    std::set<Identifier> identifiers;
    for (const auto& entry : entries)
        if (!numbers.insert(entry.number).second || !identifiers.insert(entry.identifier).second) return false;
    return true;
}

bool isConsistent(const DeviceMetadata& m) {
    return isValidSerial(m.serial) && isValidTokenText(m.label) && isValidTokenText(m.model) &&
           isValidFirmware(m.firmware) && m.maxRetries >= 1 && m.maxRetries <= limits::maxRetries &&
           m.remainingRetries <= m.maxRetries && m.pin.iterations != 0 && m.keyPairCapacity >= 1 &&
           m.keyPairCapacity <= limits::maxCapacity && m.certificateCapacity >= 1 &&
           m.certificateCapacity <= limits::maxCapacity && m.keyPairs.size() <= limits::maxCapacity &&
           m.certificates.size() <= limits::maxCapacity && numbersAndIdentifiersUnique(m.keyPairs) &&
           numbersAndIdentifiersUnique(m.certificates);
}

}  // namespace

std::string serialiseMetadata(const DeviceMetadata& m) {
    std::ostringstream out;
    out << header << '\n';
    out << "serial " << m.serial << '\n';
    out << "label " << escapeText(m.label) << '\n';
    out << "model " << escapeText(m.model) << '\n';
    out << "firmware " << m.firmware << '\n';
    out << "plugged " << (m.plugged ? "yes" : "no") << '\n';
    out << "retries-max " << m.maxRetries << '\n';
    out << "retries-left " << m.remainingRetries << '\n';
    out << "pin pbkdf2-sha256 " << m.pin.iterations << ' ' << toHex(m.pin.salt) << ' ' << toHex(m.pin.hash) << '\n';
    out << "key-pair-capacity " << m.keyPairCapacity << '\n';
    out << "certificate-capacity " << m.certificateCapacity << '\n';
    out << "generation " << m.generation << '\n';
    for (const auto& k : m.keyPairs) {
        out << "key-pair " << k.number << ' ' << toHex(k.identifier) << " kind=" << k.kind << " usage=" << k.usage
            << " flag=" << static_cast<unsigned>(k.flag) << " id=" << toHex(k.id) << " label=" << escapeText(k.label)
            << '\n';
    }
    for (const auto& c : m.certificates) {
        out << "certificate " << c.number << ' ' << toHex(c.identifier) << " id=" << toHex(c.id)
            << " label=" << escapeText(c.label) << '\n';
    }
    out << "end\n";
    return out.str();
}

std::optional<DeviceMetadata> parseMetadata(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        if (newline == std::string_view::npos) return std::nullopt;  // every line ends with a newline
        lines.push_back(text.substr(0, newline));
        text.remove_prefix(newline + 1);
    }
    if (lines.size() < 2 || lines.front() != header || lines.back() != "end") return std::nullopt;

    DeviceMetadata m;
    std::set<std::string_view> seen;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        // Plain variables rather than a structured binding: the number lambda
        // below captures them, which C++17 only allows for variables.
        const auto parts = splitWord(lines[i]);
        const auto word = parts.first;
        const auto rest = parts.second;
        if (word == "key-pair") {
            auto entry = parseKeyPair(rest);
            if (!entry) return std::nullopt;
            m.keyPairs.push_back(std::move(*entry));
            continue;
        }
        if (word == "certificate") {
            auto entry = parseCertificate(rest);
            if (!entry) return std::nullopt;
            m.certificates.push_back(std::move(*entry));
            continue;
        }
        if (!seen.insert(word).second) return std::nullopt;
        bool ok = true;
        auto number = [&](uint64_t maximum) -> uint64_t {
            const auto value = parseUnsigned(rest, maximum);
            ok = ok && value.has_value();
            return value.value_or(0);
        };
        if (word == "serial") {
            m.serial = std::string(rest);
        } else if (word == "label" || word == "model") {
            auto value = unescapeText(rest);
            ok = value.has_value();
            (word == "label" ? m.label : m.model) = value.value_or("");
        } else if (word == "firmware") {
            m.firmware = std::string(rest);
        } else if (word == "plugged") {
            ok = rest == "yes" || rest == "no";
            m.plugged = rest == "yes";
        } else if (word == "retries-max") {
            m.maxRetries = static_cast<uint32_t>(number(limits::maxRetries));
        } else if (word == "retries-left") {
            m.remainingRetries = static_cast<uint32_t>(number(limits::maxRetries));
        } else if (word == "pin") {
            auto pin = parsePin(rest);
            ok = pin.has_value();
            if (pin) m.pin = std::move(*pin);
        } else if (word == "key-pair-capacity") {
            m.keyPairCapacity = static_cast<uint32_t>(number(limits::maxCapacity));
        } else if (word == "certificate-capacity") {
            m.certificateCapacity = static_cast<uint32_t>(number(limits::maxCapacity));
        } else if (word == "generation") {
            m.generation = number(UINT64_MAX);
        } else {
            ok = false;
        }
        if (!ok) return std::nullopt;
    }
    constexpr std::size_t requiredFieldCount = 11;
    if (seen.size() != requiredFieldCount || !isConsistent(m)) return std::nullopt;
    return m;
}

}  // namespace zelmor::sim
