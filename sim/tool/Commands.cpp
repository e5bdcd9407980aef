#include "Commands.h"

#include "../crypto/Certificates.h"
#include "../crypto/KeyKind.h"
#include "../device/DeviceAdministration.h"
#include "../store/DeviceStore.h"

#include <set>

namespace zelmor::sim::tool {

const char* const usageText =
    "Usage: zelmor-sim COMMAND [ARGUMENTS]\n"
    "Manages the virtual devices in $ZELMOR_SIM_HOME (default $HOME/.local/share/zelmor-sim).\n"
    "\n"
    "  create SERIAL --pin PIN [--label TEXT] [--model TEXT] [--firmware X.Y]\n"
    "                [--retries N] [--capacity N]\n"
    "                          new plugged device (defaults: label \"Zelmor Token\", model \"Zelmor DSC\",\n"
    "                          firmware 1.0, 10 PIN tries, room for 32 key pairs and 32 certificates)\n"
    "  list                    every device: serial, plugged or not, label, PIN tries left, object counts\n"
    "  show SERIAL             the device's key pairs and certificates\n"
    "  plug SERIAL             connect the device\n"
    "  unplug SERIAL           disconnect the device\n"
    "  unlock SERIAL [--pin PIN]\n"
    "                          restore the PIN tries, optionally setting a new PIN\n"
    "  remove SERIAL           delete the device and everything on it\n"
    "  --help                  this text\n"
    "\n"
    "Exit status 0 on success, 1 with one line on standard error otherwise.\n";

namespace {

void expectShape(const CommandLine& line, std::size_t operandCount, const std::set<std::string>& allowedOptions) {
    if (line.operands.size() < operandCount)
        throw UsageError(line.command + ": missing SERIAL (see zelmor-sim --help)");
    if (line.operands.size() > operandCount) throw UsageError(line.command + ": unexpected argument '" +
                                                              line.operands[operandCount] + "'");
    for (const auto& [name, value] : line.options)
        if (allowedOptions.count(name) == 0) throw UsageError(line.command + ": unknown option " + name);
}

uint32_t numberOption(const CommandLine& line, const std::string& name, uint32_t fallback) {
    const auto text = line.option(name);
    if (!text) return fallback;
    if (text->empty() || text->size() > 9 || text->find_first_not_of("0123456789") != std::string::npos)
        throw UsageError(name + " needs a whole number, not '" + *text + "'");
    return static_cast<uint32_t>(std::stoul(*text));
}

std::string usageWords(uint32_t usage) {
    std::string text;
    if (usage & 1) text = "sign";
    if (usage & 2) text += text.empty() ? "decrypt" : ",decrypt";
    return text.empty() ? "none" : text;
}

std::string certificateSubject(const Bytes& der) {
    const X509Ptr certificate = parseCertificate(der.data(), der.size());
    return certificate ? distinguishedNameText(X509_get_subject_name(certificate.get())) : "?";
}

void create(const CommandLine& line, const DeviceStore& store, std::ostream& out) {
    expectShape(line, 1, {"--pin", "--label", "--model", "--firmware", "--retries", "--capacity"});
    NewDeviceSettings settings;
    settings.serial = line.operands[0];
    const auto pin = line.option("--pin");
    if (!pin) throw UsageError("create: --pin PIN is required");
    settings.pin = *pin;
    settings.label = line.option("--label").value_or(settings.label);
    settings.model = line.option("--model").value_or(settings.model);
    settings.firmware = line.option("--firmware").value_or(settings.firmware);
    settings.retries = numberOption(line, "--retries", settings.retries);
    settings.capacity = numberOption(line, "--capacity", settings.capacity);
    createDevice(store, settings);
    out << "created device " << settings.serial << '\n';
}

void list(const CommandLine& line, const DeviceStore& store, std::ostream& out) {
    expectShape(line, 0, {});
    for (const auto& listing : listDevices(store)) {
        if (!listing.device) {
            out << listing.serial << "  damaged\n";
            continue;
        }
        const DeviceMetadata& m = listing.device->metadata;
        out << m.serial << "  " << (m.plugged ? "plugged" : "unplugged") << "  label \"" << m.label << "\"  tries "
            << m.remainingRetries << '/' << m.maxRetries << "  key pairs " << m.keyPairs.size() << '/'
            << m.keyPairCapacity << "  certificates " << m.certificates.size() << '/' << m.certificateCapacity
            << '\n';
    }
}

void show(const CommandLine& line, const DeviceStore& store, std::ostream& out) {
    expectShape(line, 1, {});
    const auto device = readDevice(store, line.operands[0]);
    const DeviceMetadata& m = device->metadata;
    out << "device " << m.serial << (m.plugged ? " (plugged)" : " (unplugged)") << ", label \"" << m.label
        << "\", model \"" << m.model << "\", firmware " << m.firmware << ", PIN tries " << m.remainingRetries << '/'
        << m.maxRetries << '\n';
    out << "key pairs: " << m.keyPairs.size() << '/' << m.keyPairCapacity << '\n';
    for (const auto& k : m.keyPairs)
        out << "  " << k.number << "  " << keyKindName(k.kind) << "  label \"" << k.label << "\"  id "
            << (k.id.empty() ? "-" : toHex(k.id)) << "  usage " << usageWords(k.usage) << '\n';
    out << "certificates: " << m.certificates.size() << '/' << m.certificateCapacity << '\n';
    for (std::size_t i = 0; i < m.certificates.size(); ++i)
        out << "  " << m.certificates[i].number << "  label \"" << m.certificates[i].label << "\"  subject "
            << certificateSubject(*device->certificateDer[i]) << '\n';
}

void plugOrUnplug(const CommandLine& line, const DeviceStore& store, std::ostream& out, bool plugged) {
    expectShape(line, 1, {});
    setPlugged(store, line.operands[0], plugged);
    out << (plugged ? "plugged " : "unplugged ") << line.operands[0] << '\n';
}

void unlock(const CommandLine& line, const DeviceStore& store, std::ostream& out) {
    expectShape(line, 1, {"--pin"});
    unlockDevice(store, line.operands[0], line.option("--pin"));
    out << "unlocked " << line.operands[0] << (line.option("--pin") ? " with a new PIN" : "") << '\n';
}

void remove(const CommandLine& line, const DeviceStore& store, std::ostream& out) {
    expectShape(line, 1, {});
    removeDevice(store, line.operands[0]);
    out << "removed " << line.operands[0] << '\n';
}

}  // namespace

void runCommand(const CommandLine& line, std::ostream& out) {
    const DeviceStore store(DeviceStore::rootFromEnvironment());
    if (line.command == "create") return create(line, store, out);
    if (line.command == "list") return list(line, store, out);
    if (line.command == "show") return show(line, store, out);
    if (line.command == "plug") return plugOrUnplug(line, store, out, true);
    if (line.command == "unplug") return plugOrUnplug(line, store, out, false);
    if (line.command == "unlock") return unlock(line, store, out);
    if (line.command == "remove") return remove(line, store, out);
    if (line.command.empty()) throw UsageError("no command given (see zelmor-sim --help)");
    throw UsageError("unknown command '" + line.command + "' (see zelmor-sim --help)");
}

}  // namespace zelmor::sim::tool
