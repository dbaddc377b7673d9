#pragma once
// A PC's file transfer through the command dispatcher, frame by frame as
// the client sends it: start, 100-byte chunks, end.
#include "card_package.h"

#include "core/md5.h"
#include "core/utils.h"
#include "protocol/message_deal.h"
#include "protocol/protocol_phy.h"

#include <algorithm>
#include <string>

namespace pkg {

// The status of the end frame; 0xEE when the start was refused, 0xED when
// a chunk was.
inline u8 sendFile(message_deal& deal, u8 type, const std::string& name, const Bytes& content) {
    auto call = [&deal](u8 cmd, const Bytes& data) {
        Bytes f = {u8(Frame::kController), u8(Frame::kController >> 8), u8(Frame::kPc), u8(Frame::kPc >> 8),
                   0x11, 0x22, 0x33, 0, 0x55, cmd};
        f.insert(f.end(), data.begin(), data.end());
        f.push_back(Utils::BCC(f.data(), u32(f.size())));
        Bytes reply(2048);
        reply.resize(deal.message_group_deal(f.data(), u32(f.size()), reply.data(), u32(reply.size())));
        return reply.size() > 10 ? reply[10] : u8(0xEE);
    };
    Bytes d = {type};
    put32(d, 1, u32(content.size()));
    MD5 md5(content.data(), u32(content.size()));
    d.insert(d.end(), md5.digest(), md5.digest() + 16);
    d.insert(d.end(), name.begin(), name.end());
    if (call(PcCmd::FileStart, d) != 0) return 0xEE;
    for (size_t off = 0; off < content.size(); off += 100) {
        Bytes c(4, 0);
        put32(c, 0, u32(off));
        c.insert(c.end(), content.begin() + long(off), content.begin() + long(std::min(content.size(), off + 100)));
        if (call(PcCmd::FileData, c) != 0) return 0xED;
    }
    return call(PcCmd::FileEnd, {});
}

}  // namespace pkg
