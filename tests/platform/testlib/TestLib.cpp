// A class library loaded by ProgID, standing in for the plug-in in the tests of
// CreateObject: it is found through the registry, made by its exported factory
// and then used only by member name.
#include "base/Convert.h"
#include "base/RuntimeError.h"
#include "binding/CreateObject.h"
#include "binding/Dispatch.h"

namespace {

class Greeter : public Dispatch {
public:
    std::string className() const override { return "Greeter"; }

    std::string getGreeting() const { return m_greeting; }
    void setGreeting(std::string text) { m_greeting = std::move(text); }
    std::string Greet(std::string name, std::string mark) const {
        return m_greeting + ", " + name + mark;
    }
    void Fail() const {
        raiseError(RuntimeError::kInvalidCall, "Invalid procedure call or argument", "Greeter");
    }
    // Calls back into an object of the program, as the plug-in calls its host.
    void Tell(std::shared_ptr<Dispatch> host, std::string text) const {
        host->call("WriteLog", "Greeter", text);
    }

protected:
    const MemberTable& members() const override {
        static const MemberTable table = MemberTable::of<Greeter>({
            property("Greeting", &Greeter::getGreeting, &Greeter::setGreeting),
            method("Greet", &Greeter::Greet, {"!"}),
            method("Fail", &Greeter::Fail),
            method("Tell", &Greeter::Tell),
        });
        return table;
    }

private:
    std::string m_greeting = "Hello";
};

}  // namespace

extern "C" Dispatch* brindle_create_object(const char* progId) {
    if (vb::equalsIgnoreCase(progId, "BrindleTest.Greeter")) return new Greeter;
    return nullptr;
}
