// Saving and restoring the device table as the host window does at exit and at
// start: the 511 default devices plus 500 saved ones with names, locations,
// states and strings.
#include <benchmark/benchmark.h>

#include <QDateTime>
#include <memory>
#include <string>

#include "host/DeviceTable.h"
#include "host/DeviceTableFile.h"
#include "host/EventCallbacks.h"
#include "host/IniCache.h"
#include "support/TempHome.h"

namespace {

constexpr int kExtraDevices = 500;

// The table as it stands after a start on an empty file and a run that added
// 500 devices of its own (houses U to Z, units 1 to 99).
void populate(DeviceTable& table, IniCache& ini, EventCallbacks& callbacks) {
    callbacks.setLoading(true);
    DeviceTableFile::InitDevices(table, ini);
    callbacks.setLoading(false);
    const QDateTime when(QDate(2024, 3, 1), QTime(12, 0));
    for (int i = 0; i < kExtraDevices; ++i) {
        const auto device = table.NewDeviceEx("Sensor " + std::to_string(i));
        device->hc = std::string(1, static_cast<char>('U' + i / 99));
        device->dc = std::to_string(i % 99 + 1);
        device->location = Variant("Room " + std::to_string(i % 17));
        device->interface = "X10 CM19A FireCracker USB";
        device->dev_type_string = "Appliance Module";
        const std::string code = device->hc + device->dc;
        table.SetDeviceStatus(code, static_cast<int16_t>(2 + i % 2));
        table.SetDeviceValue(code, i * 7);
        table.SetDeviceLastChange(code, when.addSecs(i));
        table.SetDeviceString(code, "reading " + std::to_string(i) + ";ok");
    }
}

void BM_SaveDevicesAndFlush(benchmark::State& state) {
    TempHome home;  // never a real program folder
    EventCallbacks callbacks;
    DeviceTable table(callbacks);
    IniCache ini;
    populate(table, ini, callbacks);
    for (auto _ : state) {
        DeviceTableFile::SaveDevices(table, ini);
        ini.FlushIniCache();
    }
    state.counters["devices"] = table.DeviceCount();
    state.SetItemsProcessed(state.iterations() * table.DeviceCount());
}
BENCHMARK(BM_SaveDevicesAndFlush)->Unit(benchmark::kMillisecond);

// A start-up: a fresh cache reads the file, a fresh table restores it and adds
// the defaults (none missing here).
void BM_InitDevices(benchmark::State& state) {
    TempHome home;  // never a real program folder
    {
        EventCallbacks callbacks;
        DeviceTable table(callbacks);
        IniCache ini;
        populate(table, ini, callbacks);
        DeviceTableFile::SaveDevices(table, ini);
        ini.FlushIniCache();
    }
    int count = 0;
    for (auto _ : state) {
        EventCallbacks callbacks;
        callbacks.setLoading(true);
        auto table = std::make_unique<DeviceTable>(callbacks);
        IniCache ini;
        benchmark::DoNotOptimize(DeviceTableFile::InitDevices(*table, ini));
        count = table->DeviceCount();
    }
    state.counters["devices"] = count;
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_InitDevices)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
