#pragma once

#include <string>

// A self-signed certificate for the IP address 127.0.0.1 and the names *.whm.invalid, and its
// private key, made fresh with OpenSSL and written as PEM files into a new temporary folder
// (removed again).
class SelfSignedCertificate {
public:
    explicit SelfSignedCertificate(const std::string& commonName = "127.0.0.1");
    ~SelfSignedCertificate();
    SelfSignedCertificate(const SelfSignedCertificate&) = delete;
    SelfSignedCertificate& operator=(const SelfSignedCertificate&) = delete;

    const std::string& certificateFile() const { return m_certificateFile; }
    const std::string& keyFile() const { return m_keyFile; }
    const std::string& folder() const { return m_folder; }

private:
    std::string m_folder;
    std::string m_certificateFile;
    std::string m_keyFile;
};
