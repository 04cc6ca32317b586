// Cost of one typical message through XapMessage: parsing a received command
// and reading its items, and building an outgoing one. One item processed is
// one message, so items/s reads as messages per second.
#include <benchmark/benchmark.h>

#include <string>

#include "xap/XapMessage.h"

namespace {

const char* const kKeys[] = {"command", "device", "count", "level", "id", "state"};
const char* const kValues[] = {"dim", "A3,A4", "5", "40%", "*", "on"};

const std::string kReceived =
    "xap-header\n{\nv=12\nhop=1\nuid=FF124500\nclass=xAP-X10.request\n"
    "source=acme.console.hall\ntarget=qix.CM19A.host\n}\n"
    "xAP-X10.request\n{\ncommand=dim\ndevice=A3,A4\ncount=5\nlevel=40%\nid=*\nstate=on\n}\n";

void BM_ParseAndRead(benchmark::State& state) {
    for (auto _ : state) {
        XapMessage m;
        m.Init("");
        m.Reset();
        m.FromXap(kReceived);
        for (const char* key : kKeys) benchmark::DoNotOptimize(m.GetItem("xAP-X10.request", key));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseAndRead);

void BM_Build(benchmark::State& state) {
    for (auto _ : state) {
        XapMessage m;
        m.MsgClass = "xAP-X10.event";
        m.msgSource = "qix.CM19A.host:A3";
        m.MsgTarget = "";
        m.MsgUID = "FF008700";
        m.AddHeader();
        m.AddSection("xAP-X10.event");
        for (int i = 0; i < 6; ++i) m.AddItem("xAP-X10.event", kKeys[i], kValues[i]);
        benchmark::DoNotOptimize(m.ToXap());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Build);

}  // namespace

BENCHMARK_MAIN();
