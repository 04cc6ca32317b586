#include <gtest/gtest.h>

#include "xap-listen/XapListener.h"

namespace {

XapHeader header(const std::string& name, const std::string& cls, const std::string& source) {
    XapHeader h;
    h.name = name;
    h.msgClass = cls;
    h.source = source;
    return h;
}

TEST(XapListener, FiltersOnSourceAndClassWithWildcards) {
    XapListener::Options o;
    const XapHeader event = header("xap-header", "xAPBSC.event", "qix.CM19A.box:Porch.Lamp");
    const XapHeader beat = header("xap-hbeat", "xap-hbeat.alive", "qix.CM19A.box");
    EXPECT_TRUE(XapListener::wanted(o, event));
    EXPECT_TRUE(XapListener::wanted(o, beat));

    o.sourceFilter = "QIX.cm19a.*";
    o.classFilter = "xapbsc.>";
    EXPECT_TRUE(XapListener::wanted(o, event));
    EXPECT_FALSE(XapListener::wanted(o, beat));
    EXPECT_FALSE(XapListener::wanted(o, header("xap-header", "xAPBSC.event", "acme.other.box")));
    EXPECT_FALSE(XapListener::wanted(o, header("xap-header", "xAPBSC.event", "")));

    XapListener::Options quiet;
    quiet.heartbeats = false;
    EXPECT_FALSE(XapListener::wanted(quiet, beat));
    EXPECT_TRUE(XapListener::wanted(quiet, event));
}

}  // namespace
