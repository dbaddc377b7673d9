#include "video_io/vimra_it6602.h"

#include "video_io/not_built.h"

vimra_it6602::vimra_it6602(vimrasource& source) : m_source(source) {}
vimra_it6602::~vimra_it6602() = default;

int vimra_it6602::IT6602_fsm_init(int, int) {
    log_not_built(m_notBuilt[0], "IT6602_fsm_init");
    return 0;
}

void vimra_it6602::IT6602_fsm_init_1(int, int) { log_not_built(m_notBuilt[1], "IT6602_fsm_init_1"); }

void vimra_it6602::IT6602_fsm(int, int) { log_not_built(m_notBuilt[2], "IT6602_fsm"); }
