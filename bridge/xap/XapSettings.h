#pragma once
// The bridge's shared settings and paths, filled once as the first step of
// start-up: InitXap fills the computer name, the program folder and the word
// tables; the program then reads the transport's interface and broadcast
// addresses (Config/qixXap.ini, section "Interface") and hands them to
// SetAddresses before it creates the host object.

#include <string>

class XapSettings {
public:
    // Fills the paths, the computer name and the word tables, in that order.
    static void InitXap();
    static void SetAddresses(std::string interfaceAddress, std::string broadcastAddress);
    // Back to the values before InitXap (the computer name stays).
    static void reset() { state() = State{}; }

    // The computer name (the host name up to its first dot), read from the
    // system on first use and cached.
    static const std::string& ComputerName();
    // Creates every missing folder along the path, not its last component.
    // Stops at the first folder it cannot create; a relative path is left alone.
    static void CreateFolders(const std::string& path);

    static const std::string& ProgramFolder() { return state().programFolder; }
    // The executable that runs, wherever BRINDLE_HOME puts the program folder.
    static const std::string& ProgramFilePath() { return state().programFilePath; }
    static const std::string& InterfaceAddress() { return state().interfaceAddress; }
    static const std::string& BroadcastAddress() { return state().broadcastAddress; }

private:
    struct State {
        std::string programFolder;
        std::string programFilePath;
        std::string interfaceAddress = "Default";
        std::string broadcastAddress = "Default";
    };
    static State& state();
};
