// Fuzzer: one input is a sequence of up to 96 entry-point calls (see
// ApiDriver) against the test fake holding one to three devices, the first
// with an RSA and an EC key pair and a certificate.
#include "HarnessSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CK_FUNCTION_LIST_PTR f = fuzzing::initialisedModule();
    fuzzing::FuzzInput in(data, size);
    FakeLibrary& fake = fakeLibrary();
    fake.reset();
    fake.addDevice("ZLM0000001", "12345678");
    fake.addKeyPair("ZLM0000001", makeFakeKeyPair(0, keyKindRsa2048, "rsa key", {0x01, 0x02}));
    fake.addKeyPair("ZLM0000001", makeFakeKeyPair(1, keyKindEcP256, "ec key", {0x03}));
    fake.addCertificate("ZLM0000001", makeFakeCertificate(0, fuzzing::sampleCertificate, "certificate", {0x01}));
    for (int i = in.byte() % 3; i > 0; --i) fake.addDevice("ZLM000000" + std::to_string(1 + i), "87654321");
    fuzzing::ApiDriver driver{f};
    fuzzing::driveAndClose(driver, in, 96);
    return 0;
}
