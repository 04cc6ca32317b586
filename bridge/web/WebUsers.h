#pragma once
// The accounts of BASIC security: Config/webusers.ini below the program folder,
// section [Users], one line per account, user=<salted password hash> (libsodium's
// crypto_pwhash_str; brindle-passwd writes them). Users are matched ignoring
// case.
//
// check() takes the browser's "Authorization: Basic ..." value and gives the
// user it names when the password matches the stored hash, else empty.
// Verifying is slow by design, so a header that matched once is remembered
// (with the hash it matched) for the life of the process; a changed hash
// forgets it. The small file is read again for every check, so an account
// added or changed with brindle-passwd counts at once.
//
// Never raises: an unreadable file, a malformed header or a malformed hash
// is a refusal.

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>

class WebUsers {
public:
    static constexpr const char* kFile = "webusers.ini";
    static constexpr const char* kSection = "Users";

    explicit WebUsers(std::filesystem::path configFolder);

    std::string check(const std::string& authorization);
    // Whether any account is stored.
    bool any();

    // 32 hexadecimal digits from the system's random source, for a value a
    // page puts in its forms that no other site can know.
    static std::string randomToken();
    // The hash to store for a password; empty when hashing failed.
    static std::string hash(const std::string& password);
    // Writes (adds or replaces) one account in the file, atomically. False on
    // a user name the file cannot hold, or when hashing or writing failed.
    static bool store(const std::filesystem::path& configFolder, const std::string& user,
                      const std::string& password);
    // The user and password of a Basic value; nullopt when it is not one.
    static std::optional<std::pair<std::string, std::string>> basicCredentials(
        const std::string& authorization);

private:
    void reload();

    std::filesystem::path m_file;
    // Lower-cased user to stored hash.
    std::map<std::string, std::string> m_hashes;
    // Authorization values that matched, each with the hash it matched.
    std::set<std::pair<std::string, std::string>> m_verified;
};
