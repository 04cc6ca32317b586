#include "web/WebUsers.h"

#include <sodium.h>
#include <sys/random.h>

#include <cerrno>

#include <QByteArray>

#include "base/Convert.h"
#include "host/IniTool.h"
#include "xap/XapLog.h"

namespace {

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// A name the INI file reads back as itself: no "=", no line break, no leading
// "[" or ";", no blank at either end.
bool storableUser(const std::string& user) {
    return !user.empty() && user.size() <= 64 &&
           user.find_first_of("=\r\n:") == std::string::npos && user.front() != '[' &&
           user.front() != ';' && vb::Trim(user) == user;
}

}  // namespace

WebUsers::WebUsers(std::filesystem::path configFolder) : m_file(std::move(configFolder) / kFile) {}

void WebUsers::reload() {
    m_hashes.clear();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(m_file, ec)) return;
    IniTool ini;
    ini.Load(m_file.string());
    for (const std::string& user : ini.Keys(kSection)) {
        if (user.empty()) continue;
        const std::string stored = vb::Trim(ini.Read(kSection, user, ""));
        if (!stored.empty()) m_hashes.emplace(vb::LCase(vb::Trim(user)), stored);
    }
}

bool WebUsers::any() {
    return guarded("WebUsers ", false, [&] {
        reload();
        return !m_hashes.empty();
    });
}

std::optional<std::pair<std::string, std::string>> WebUsers::basicCredentials(
    const std::string& authorization) {
    const std::string value = vb::Trim(authorization);
    if (value.size() < 6 || !vb::equalsIgnoreCase(value.substr(0, 6), "Basic "))
        return std::nullopt;
    const auto decoded =
        QByteArray::fromBase64Encoding(QByteArray::fromStdString(vb::Trim(value.substr(6))),
                                       QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return std::nullopt;
    const std::string text = decoded.decoded.toStdString();
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    return std::make_pair(text.substr(0, colon), text.substr(colon + 1));
}

std::string WebUsers::check(const std::string& authorization) {
    return guarded("WebUsers ", std::string(), [&]() -> std::string {
        const auto credentials = basicCredentials(authorization);
        if (!credentials) return {};
        reload();
        const auto stored = m_hashes.find(vb::LCase(credentials->first));
        if (stored == m_hashes.end()) return {};
        const auto key = std::make_pair(authorization, stored->second);
        if (m_verified.contains(key)) return credentials->first;
        const std::string& password = credentials->second;
        if (!sodiumReady() ||
            crypto_pwhash_str_verify(stored->second.c_str(), password.data(), password.size()) != 0)
            return {};
        // Bounded: a full cache is emptied rather than grown without end.
        if (m_verified.size() >= 64) m_verified.clear();
        m_verified.insert(key);
        return credentials->first;
    });
}

std::string WebUsers::randomToken() {
    // Straight from the kernel: a page asks for one each time it is built, and
    // starting the hashing library for it would bring in code the gateway only
    // needs where accounts are kept.
    unsigned char random[16];
    size_t filled = 0;
    while (filled < sizeof random) {
        const ssize_t got = ::getrandom(random + filled, sizeof random - filled, 0);
        if (got > 0) {
            filled += static_cast<size_t>(got);
        } else if (got < 0 && errno != EINTR) {
            break;
        }
    }
    if (filled < sizeof random) {
        sodiumReady();
        randombytes_buf(random, sizeof random);
    }
    static const char* const kHex = "0123456789abcdef";
    std::string token;
    for (const unsigned char b : random) {
        token += kHex[b >> 4];
        token += kHex[b & 15];
    }
    return token;
}

std::string WebUsers::hash(const std::string& password) {
    if (!sodiumReady()) return {};
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return {};
    return out;
}

bool WebUsers::store(const std::filesystem::path& configFolder, const std::string& user,
                     const std::string& password) {
    return guarded("WebUsers store ", false, [&] {
        if (!storableUser(user)) return false;
        const std::string hashed = hash(password);
        if (hashed.empty()) return false;
        std::filesystem::create_directories(configFolder);
        const std::string path = (configFolder / kFile).string();
        IniTool ini;
        ini.Load(path);
        // One line per user whatever the case it was first written in.
        for (const std::string& key : ini.Keys(kSection))
            if (!key.empty() && vb::equalsIgnoreCase(key, user)) ini.RemoveKey(kSection, key);
        ini.WriteKey(kSection, user, hashed);
        ini.Save();
        // Save reports its own failure; reading back tells the caller.
        IniTool check;
        check.Load(path);
        return check.Read(kSection, user, "") == hashed;
    });
}
