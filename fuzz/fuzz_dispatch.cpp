// The command dispatcher on a scratch root: the input is a run of decoded
// frames (two length bytes, then the frame), each handled as a link hands
// it over, with the persisting step after each one, as the GUI thread runs
// it after the change signal. File transfers, slot writes, register and
// network commands all land under the scratch root.
#include "fuzz_env.h"

#include "core/zrvrampara.h"
#include "protocol/message_deal.h"
#include "video_engine/c331_manage.h"

#include <cstdint>
#include <vector>

namespace {
ZrvRamPara* g_model = nullptr;
message_deal* g_deal = nullptr;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzenv::init();
    g_model = new ZrvRamPara();
    g_model->load();
    ZrvRamPara::p_zrvrampara_config = g_model;
    g_deal = new message_deal();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<u8> reply(8192);
    size_t at = 0;
    while (at + 2 <= size) {
        const size_t len = size_t(data[at]) | (size_t(data[at + 1]) << 8);
        at += 2;
        const size_t n = len < size - at ? len : size - at;
        g_deal->message_group_deal(data + at, u32(n), reply.data(), u32(reply.size()));
        at += n;
        c331_manage* mgr = c331_manage::get();
        const int code = mgr->apply_flag.exchange(0);
        g_model->ram_para_persist(code ? code : 1);
    }
    return 0;
}
