#pragma once
// The manager of the two output FPGAs: register and RAM mirrors, the FPGA
// thread with its start gate and eleven-step pass, bring-up, output geometry
// and screen control.
//
// Locks, in the order they may be taken: bri_mutex (brightness and
// schedules); the c331 manager's mutex;
// Utils::_led_para_init_mutex or Utils::_bri_set_mutex; the port mutex;
// Utils::_fpga_multicast_mutex (RAM mirrors); the register lock (one masked
// register write from read to wire); Utils::_spi_mutex (inside every wire
// access); the shadow mutex (register images, screen state), only after the
// SPI mutex was released.
#include "core/global.h"
#include "core/logMsg.h"
#include "fpga/clock_record_run.h"
#include "fpga/fpga_drv.h"
#include "fpga/fpga_jobs.h"
#include "fpga/fpga_regs.h"
#include "fpga/rcv_recovery_file.h"

#include <QMutex>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

// Calendar time as the schedules and the run-time record keep it.
struct TimeRealType {
    u8 second = 0;
    u8 minute = 0;
    u8 hour = 0;
    u8 day = 0;
    u8 unused = 0;
    u8 month = 0;
    u16 year = 0;
};

class fpga_manage {
public:
    // Creates the manager on first call (the recovery reader checks its
    // folders), initialises it and starts the FPGA thread.
    static fpga_manage* pInstance();
    static fpga_manage* p_fpga_manage;

    // A manager of its own, with no thread; it becomes the one the static
    // pointer arrays point into. Tests and benchmarks drive it pass by pass.
    fpga_manage();
    ~fpga_manage();
    fpga_manage(const fpga_manage&) = delete;
    fpga_manage& operator=(const fpga_manage&) = delete;

    // Opens the SPI devices, sets the lines' start levels, softinit, the
    // platform sleep of 2 s, closes the start gate and starts the thread
    // (unless startThread is false). 0, or 255 when the GPIO window is not
    // mapped or the thread cannot start.
    int initialize(bool startThread = true);
    // Start values of the blocks, the g_change words and the mailbox.
    void softinit();
    // Stops and joins the FPGA thread (orderly shutdown) and settles the
    // brightness record (finish_brightness).
    void stop();
    // With the thread stopped: applies a brightness change handed over after
    // its last pass and stores a record still waiting for its quiet second.
    void finish_brightness();

    // ---- the thread
    // One turn of the thread body: nothing while the start gate is closed,
    // the upgrade step while g_usb_grade is set, else one pass.
    void thread_turn();
    // The eleven steps of one pass.
    void pass();
    // The upgrade's turn while g_usb_grade is set: one step, true; false
    // when no upgrade is requested.
    bool usb_upgrade_manage_deal();
    // Pass interval while running, and while the start gate is closed.
    static constexpr u32 kPassMs = 10;
    // Pass interval while both FPGAs run and nothing is in hand: the idle
    // work is due every 10 ticks or more, and whatever brings work (a
    // request raised, a job posted, a PC frame) wakes the thread at once.
    static constexpr u32 kQuietPassMs = 50;
    // How long the thread sleeps after a turn.
    u32 pass_interval_ms();
    // Settling time of the lines' start levels before the FPGAs are driven.
    static constexpr u32 kSettleMs = 2000;
    static constexpr u32 kGateClosedMs = 50;

    // ---- wire access (one access each, under Utils::_spi_mutex)
    void read_fpga_register(u8 reg, u8* value, u8 fpga);
    void write_fpga_register(u8 reg, u8 value, u8 fpga, u8 mask);
    void read_fpga_ram(u8* dst, u16 address, u16 length, u8 page, u8 fpga);
    void write_fpga_ram(const u8* src, u16 address, u16 length, u8 page, u8 fpga);
    static void fpga_reg_cmd_to_spi_data(u8 cls, u8 page, u8 reg, u8 read, u8 mask, u8 out[4]);
    static void fpga_cmd_to_spi_data(u8 cls, u8 page, u16 address, u8 read, u8 out[4]);

    // ---- register image
    // Reads a mirrored register into the image; others are ignored.
    void read_from_register(u8 reg, u8 fpga);
    // The one masked register write (image and wire). Takes the register
    // lock and, for a blackout write of register 0, the c331 manager's mutex
    // after it: no caller may hold the c331 manager's mutex. Returns what
    // the command block it ran returned (register 2 bit 2), else 0. A write
    // of register 0 sets the screen state a PC reads (MCU_RAM_EXTEND byte
    // 29) from what the FPGA then holds; one of its blackout bit alone also
    // sets the image's blackout word, unless the LED sequence runs or
    // `keepWord` (the write carries the word's own state to an FPGA).
    int write_to_register(u8 reg, u8 mask, u8 value, u8 fpga, bool keepWord = false);
    // Runs the command block MCU_RAM_CMD (a copy of it): kind 1 the clock,
    // 2 the on/off schedule, 3 the brightness. A block whose length does
    // not fit the block or is short for its kind is refused and logged.
    // 0 run (or nothing to run), 1 refused, 2 the clock or the flash did not
    // take it (logged). The brightness record is stored a quiet second
    // later: its store is not known here.
    int Dealwith_mcu_ram();
    // Sets the system clock from a kind-1 block (date and hwclock through the
    // shell runner) and marks the run-time record; 0 done, 1 refused (not a
    // valid time), 2 the clock was not set (both logged).
    int Checktime(const u8* block);
    // Copies the version registers 28-31 to MCU_RAM_CMD bytes 12-15.
    void FPGA_to_RAM(u8 fpga);
    // Wall time of the platform clock.
    int IT8563WE_Get(TimeRealType* time);

    // ---- bring-up and supervision
    void power_up_fpga_start(u8 skipWhenDone, u8 fpga);
    // Register 0's blackout bit of a started FPGA as the image's blackout
    // word asks: a start (power-up, reset or a restart of its own) leaves
    // register 0 cleared.
    void restore_screen(u8 fpga);
    void fpgainit(u8 fpga);
    void power_up_check_fpga_status(u8 fpga);
    void reset_fpga_rst(u8 fpga);
    void check_fpga_rst();
    bool get_fpga_status();
    u8 check_vbo_status(u8 fpga);
    u8 check_fpga_ram_param(u8 fpga);
    void eth_param_init(u8 defaults, u8 fpga);
    void get_control_uid(u8 fpga);
    // The output's clock is released and the FPGA is not held in reset.
    bool released(u8 fpga) const;
    // The start gate is open and the FPGA released: the program may drive
    // it and, for FPGA 0, the flash behind it. Before that an FPGA held in
    // reset or loading itself may answer anything, and the flash is not the
    // program's yet.
    bool started(u8 fpga) const;
    // Idle work: lanes, card search, multifunction cards, port online state.
    void Check_search_card();

    // ---- brightness and on/off schedules (one lock, bri_mutex, over their
    // state and the two records in the flash behind FPGA 0; taken before the
    // c331 manager's mutex and the port mutex)
    // Pass step 6, with the brightness flag taken: applies the word when it
    // holds a user's change this manager has not taken yet (nor a later
    // change superseded: a record the PC stored since); 1 when done, 0 to
    // put the flag back.
    int set_fpga_bri_val();
    // Writes the brightness to both FPGAs; `panel`: the word and the change
    // it holds (then stored as a fixed-level record), else the current
    // level. 1 done, 0 when the FPGAs read back different values. Caller
    // holds bri_mutex.
    int Brightness_hand_dealwith(bool panel);
    struct BriWord {
        u16 percent = 100;
        u32 change = 0;  // ZrvRamPara::bri_word_change
    };
    // The image's brightness word and the change it holds. Takes the c331
    // manager's mutex.
    BriWord bri_word();
    int write_brightness(const BriWord* panel);
    // Reload the stored records (parameter load at bring-up).
    void record_bright_change();
    void record_onoff_time(u8 flash);
    // Arms the schedule the flash holds; false when it holds none. Caller
    // holds bri_mutex.
    bool take_onoff_record();
    void reload_bright_record();  // caller holds bri_mutex
    // Idle work: record reload request, brightness task, on/off check.
    void Extension_function();
    void brightness_task();
    // Sensor on a multifunction card: search, read (bounded wait for its
    // reply), filter into the current level.
    void search_sensor();
    void read_sensor();
    void filter_sensor();
    void dealwith_onoff();
    // Arms the entries of a schedule block (data byte 8 the count, at most
    // four used). Caller holds bri_mutex.
    void OnOff_time(const u8* block);
    // Level x 16 - 1 for a 16-step mode (level clamped to 1-16), the level
    // itself for modes 16 and 17.
    static u8 level_to_value(u8 level, u8 mode);
    // The panel's percentage (image word 2176) as a register-6 value,
    // truncated, and back, rounded to the nearest.
    static u8 percent_to_value(u32 percent);
    static u16 value_to_percent(u8 value);
    // Register image 64 of both FPGAs := level.
    void set_level_images(u8 level);
    // Makes the record at address in the flash behind FPGA 0 hold length
    // bytes from record + 4 (null: an erased record): erases its sector and
    // programs them, unless the flash already reads back what that would
    // give. False (logged) when the flash failed or does not read back the
    // erase and the record.
    bool store_record(u32 address, const u8* record, u32 length);
    // The brightness record is stored once its value has stood for
    // kRecordQuietTicks (or at stop()): a dragged slider or a burst of PC
    // writes costs one erase of its sector, not one per step. Until then a
    // reload reads the record waiting here, as the flash will hold it.
    // Record bytes 3-5, which the command block leaves unused, keep the
    // change the record holds (`change`, a ZrvRamPara count); the PC's erase
    // leaves them in the erased record. `fromWord`: a fixed level made from
    // the word's change. Caller holds bri_mutex.
    void queue_bright_record(const u8* record, u32 length, u32 change, bool fromWord);
    // Counts the PC's store or erase of the brightness record as a change
    // and returns it. Takes the c331 manager's mutex.
    u32 count_pc_record();
    // Queues the fixed level of the word's change; in a fixed-level mode the
    // live state follows it (reload request). Caller holds bri_mutex.
    void queue_panel_record(u8 v, u32 change);
    // Stores the waiting record once it has stood long enough, or at once
    // when `now`. Takes bri_mutex.
    void store_pending_bright(bool now);
    static constexpr u32 kRecordQuietTicks = 100;
    struct PendingRecord {
        bool waiting = false;
        std::vector<u8> bytes;  // from byte 0 of the record
        u32 change = 0;         // the change it holds
        bool fromWord = false;
        u32 tick = 0;           // when it last changed
    };
    PendingRecord bri_pending;  // guarded by bri_mutex
    // The latest change this manager acted on (a word taken, a record the PC
    // stored or erased, a record read), and the latest whose record the flash
    // holds. Until the flash holds the word's change the brightness task
    // leaves the word alone: after a power cut the image file gives it back.
    // Guarded by bri_mutex.
    u32 bri_acted = 0;
    u32 bri_settled = 0;
    u8 HalfHourValue[48];
    u8 bri_mode = 0;
    u8 bri_last_slot = 255;
    u8 sensor_block[128] = {};
    // The last sensor read gave no reading: logged once until it reads
    // again (FPGA thread).
    bool sensor_unread = false;
    struct OnOffEntry {
        u8 on_hour = 0, on_minute = 0, off_hour = 0, off_minute = 0;
        bool on_armed = false, off_armed = false;
    };
    OnOffEntry onoff[4];
    u8 onoff_count = 0;
    u8 onoff_state = 0;  // 0 on, 1 off
    u8 onoff_day = 0;    // day of month of the last re-arm
    QMutex bri_mutex;
    // Longest wait for the sensor's reply, in ticks; failures before the
    // level goes back to 16.
    static constexpr u32 kSensorTicks = 35;
    static constexpr u32 kSensorFailures = 10;
    static constexpr u32 kTaskTicks = 1000;

    // ---- output geometry and screen control
    static u8 get_eth_param_addr(u8 port, u16* x, u16* y, u16* w, u16* h);
    void K57_back_mcu_set_net_para(u8 fpga);
    void K57_mcu_set_net_para(u8 fpga);
    void K57_mcu_set_lcd_x_y_para(u8 fpga);
    void get_eth_min_x_y(u8 fpga, u16* x, u16* y);
    void get_eth_max_border(u8 fpga, u16* x, u16* y);
    void get_eth_lcd_x_y(u8 fpga, u16* x, u16* y);
    void get_eth_lcd_w_h(u8 fpga, u16* w, u16* h);
    void update_eth_state(u8 fpga);
    u32 get_wlan_state();
    void check_wlanonline_state();
    int set_fpga_lcd();
    // Both FPGAs' blackout bit as the image's blackout word says; 0 (kept
    // for a later pass) while they do not both run or an LED set-up holds
    // the outputs, whose end shows the wall as the word then says.
    int set_output_status();
    // One step of the LED set-up. A request the c331 owes no panel for
    // (nothing to set up, or set up already) ends at once, and outputs it
    // blacked out and switched off are shown again: a set-up ends with the
    // restart that the c331's new panel brings, or with that restore.
    void set_led_para_deal();
    // Codes that write register 0's blackout bit change the image's blackout
    // word with it unless `keepWord` (the write carries the word's own state,
    // or blacks out for an LED set-up).
    void SCREEN_fpgactrl_status(u8 code, bool keepWord = false);
    void SCREEN_fpgactrl_status2(u8 code, u8 fpga);
    // The wall or splice mode changed: when both FPGAs run (register 80 of
    // both images at 3) raise the LED-parameter request (which ends at once
    // when the c331 owes no new panel). Writers call it with the c331
    // manager's mutex held; true when raised.
    static bool request_led_para_if_running();
    // The operator's blackout (image word 2116) changed from here (a PC's
    // write of register 0's blackout bit, the on/off schedule): the word is
    // stored and signalled, and both FPGAs follow it through the output
    // status step. Takes the c331 manager's mutex: the caller holds none.
    void set_blackout_word(bool black);
    // Whether an LED set-up holds the outputs (requested, running, or done
    // and waiting for the c331's new panel).
    bool led_setup_busy() const { return g_set_led_para.load() != 0 || m_led_held.load(); }

    // ---- receiving-card frames (each builder seals the frame; port is the
    // port within its FPGA, 0-11; the length is returned and, where the
    // jobs need it, stored in the mailbox)
    // Card position frame: card `g_send_para.card_index` of the port at x, y
    // (offsets already added by the caller); 23 bytes.
    static u32 rcv_card_cmd_create(u8* buf, u8 port, u16 x, u16 y);
    static u32 load_write_ram_cmd_create(u8 port, u16 card, u32 address, const u8* data, u32 len, u8* buf, bool all);
    static u32 rcv_active_firmware_cmd_create(u8 port, u16 card, const u8* data, u32 len, u8* buf);
    // Register write to all cards of the port: byte 10 = `a`, 11 = low byte
    // of `b`, 12 = 1, 13 = high byte of `b` (the quick set-up: 1, 0xFFFF).
    static u32 ram_reset_cmd_create(u8* buf, u8 a, u16 b, u8 port);
    static u32 save_para_cmd_create(u8* buf, u8 port);
    static u32 load_write_reg_cmd_create(u8 port, u16 card, const u8* data, u32 len, u8* buf, bool all);
    static u32 load_write_user_defined_cmd_create(u8 port, u16 card, const u8* data, u32 len, u8* buf, bool all);
    static u32 rcv_reconfig_cmd_create(u8 port, u16 card, const u8* data, u32 len, u8* buf);
    static u32 load_search_rxc_cmd_create(u8 port, const u8* data, u32 len, u8* buf);
    static u32 save_para2flash_cmd_create(u8 port, u16 card, u8* buf, bool all);
    static u32 mapping_enable_cmd_create(u8 port, u8* buf);
    // The 30-byte search frame: u32 `a` at 17, u32 `b` at 23, flag at 16.
    static u32 search_frame_create(u8* buf, u8 port, u32 a, u32 b, u8 flag);

    // ---- sending on the ports
    // What a frame sent to the cards waits for, recorded by Send_to_port as
    // the frame leaves: the ports it went to (bit 16 x FPGA + port), its
    // source (the replies come back to it), class and command, and the card
    // it addressed, kAnyCard for all cards, all cards of a port, or a search
    // (the chain's last card answers it). Every card of a port acknowledges
    // a frame to all of them, and the save lets each card answer twice:
    // acknowledgements of a frame before still come while the next waits.
    // Each wait (a PC's frame, the controller's job frame, card check and
    // sensor read, the periodic search) takes its answers through take, so
    // a reply ends only the wait of a frame it answers.
    static constexpr u16 kAnyCard = 0xFFFF;
    struct CardWait {
        u32 ports = 0;
        u32 open = 0;     // of the ports, those whose answer has not come
        u16 asker = 0;
        u8 cls = 0;
        u8 cmd = 0;
        u16 card = kAnyCard;
        bool anyClass = false;   // a PC's frame to one port: its class is the PC's business
        bool answered39 = false; // a PC's broadcast: 0x39 answers it as well
        u32 since = 0;           // tick the frame last left
        u32 ticks = 0;           // how long its sender waits for the answer
        // The frame left on port (16 x FPGA + port); the record holds it,
        // with the ports of the same frame recorded before.
        void sent(const u8* frame, u32 port, u32 waitTicks = kCardAckTicks);
        // The reply that came on port (16 x FPGA + port) answers the frame.
        bool answeredBy(const u8* reply, u32 port) const;
        // answeredBy; the port's answer has then come.
        bool take(const u8* reply, u32 port);
        // Its sender still waits for the answer on port.
        bool waiting(u32 port) const;
        // One reply on port could answer this frame and `other`.
        bool shares(const CardWait& other, u32 port) const;
    };
    // Sends one frame and records it in `wait`: afresh, or with `morePorts`
    // as one more port of the frame the wait already holds; its sender waits
    // `waitTicks` for the answer. A frame whose reply could not be told from
    // the reply of a frame of another wait still waiting on the port (the
    // card check's search and the periodic search's ask the same) is held
    // until that one has its answer or its sender gave up: the port mutex,
    // which the caller holds, is let go between looks at the receive pages.
    void Send_to_port(const u8* frame, u32 length, u8 port, u8 fpga, CardWait& wait, bool morePorts = false,
                      u32 waitTicks = kCardAckTicks);
    // The hold of Send_to_port, for senders with register steps of their own
    // before it.
    void hold_for_port(const u8* frame, u8 port, u8 fpga, const CardWait& wait, bool morePorts);
    u8 wait_fpga_send_ready(u8 port, u8 fpga);
    int Dealwith1_PC_to_eth(u32 length, const u8* frame);
    void multi_port_send(u8* frame, u32 length);
    // Takes the replies already waiting in both FPGAs' receive pages (at
    // most kWaitingRepliesMax of each): called under the port mutex before a
    // link's PC frame, a job's frame or the sensor's read is sent, so they
    // go where they belong (the controller, or the link whose frame one
    // answers) and none is taken for the answer of the frame not yet sent.
    void take_waiting_replies();
    static constexpr int kWaitingRepliesMax = 32;
    // The reply for the PC that came on port (16 x FPGA + port) answers the
    // latest PC frame (pass_asked), whose answer on that port it takes.
    bool answers_pass(const u8* reply, u32 port);
    // The ports with a link, read from both FPGAs now (bit 16 x FPGA +
    // port); an FPGA that does not run has none.
    u32 link_mask();
    u16 get_port_card_num(u8 port);
    u16 check_netport_card(u8 fpga);
    // Longest wait for a port pair's send buffer, and for all of one PC frame.
    static constexpr u32 kSendWaitTicks = 300;
    // Longest pause between two looks at a busy send buffer.
    static constexpr u32 kSendPollMaxMs = 8;

    // ---- receiving
    void reg_IRQ_Dealwith(u8 fpga, u8 force);
    void Rcv_data_from_eth(u8 fpga);
    u8 deal_with_search_concurrent(u8 fpga);
    void Search_concurrent_back_result(u8* frame, u8 group, u8 fpga, u32 length);
    void update_eth_rcv_num(const u8* frame, u8 port, u8 fpga);
    void check_fpga_net_data_status(u8 fpga);
    // A register's image value, read under the shadow mutex: the PC links'
    // receive polls and register commands and the panel refresh the images
    // from their own threads.
    u8 reg_image(u8 fpga, u8 reg);

    // ---- periodic search
    void Search_Card_Cmd();
    void CHECK_search_cmd_status();
    // Sends one search frame under the port lock, recorded in `wait` (the
    // periodic search adds each port to search_wait; the card check waits
    // for its frame alone): never call it holding port_mutex (it is not
    // recursive).
    void check_error_rcv_search_card_cmd(u8 port, u8 fpga, u32 a, u32 b, u8 flag, CardWait& wait,
                                         u32 waitTicks = kSearchTicks);
    // A search frame waits one cycle for its answer.
    static constexpr u32 kSearchTicks = 80;

    // Pass-through and search state.
    u8 bc_collect = 0;        // replies to a broadcast PC frame are collected (until its answer)
    u32 bc_tick = 0;
    u32 replied_mask = 0;     // bit 16 x FPGA + port
    u8 bc_sent = 0;
    u8 bc_search = 0;         // the broadcast was a search (0x0FFE)
    // The waits, under the port mutex: the latest PC frame for the cards
    // (no ports when it was not sent); the controller's frame that waits
    // for its reply (a job's frame, the card check's search, the sensor's
    // read); the periodic search's frames of this cycle.
    CardWait pass_asked;
    CardWait ctrl_wait;
    CardWait search_wait;
    u32 answered39_mask = 0;
    u8 ctrl_reply_flag = 0;     // under the port mutex
    u8 ctrl_reply[130] = {};
    u32 ctrl_reply_len = 0;     // bytes of ctrl_reply the last reply filled
    u8 explicit_mask_flag = 0;   // kept, never set
    u32 explicit_masks[2] = {};
    u32 search_result_mask = 0;  // bit 8 x FPGA + pair
    u32 searched_mask = 0;       // bit 16 x FPGA + port
    // Read by tests and pages while the FPGA thread counts.
    std::atomic<u16> total_cards{0};
    u32 recovery_identity = 0;   // identity the recovery job waits for

    // ---- receiving-card jobs (one step per pass, posted through
    // post_card_job)
    // The pass's job dispatch: job 1-6 of the mailbox, one step.
    void run_card_job(u8 job);
    void SmartMapping_deal();
    void save_para_deal();
    void mapping_enable_deal();
    // Position of card `index` along the quick set-up port's chain in the
    // cabinet grid of line_type (offsets not added). False, leaving 0, 0,
    // for an index outside the grid and for a grid that cannot be walked
    // (no rows or columns, routing type outside 1-16).
    static bool get_rcvcard_x_y(u16 index, u16* x, u16* y);
    enum RCV_CHECK_OR_RECOVERY : u8 { RCV_CHECK = 0, RCV_RECOVERY = 1, RCV_SCAN = 2 };
    void rcv_recovery_check_deal(RCV_CHECK_OR_RECOVERY mode);
    // One sub-step of the current operation: 0 running, 1 finished, 2 the
    // operation cannot be replayed (the job ends through its error end).
    int load_rcv_xy_operate(const QString& path, u64 dataOffset, bool all);
    // Waits of the jobs, in ticks.
    static constexpr u32 kCardAckTicks = 1200;
    static constexpr u32 kJobEndTicks = 200;
    static constexpr u32 kHeartbeatTicks = 100;
    static constexpr u32 kPcPauseTicks = 80;
    // Recovery target: the card the last check found (port 0-23). The card
    // is the index a card reported, kept whole: it may lie beyond the cards
    // the package describes, and the recovery refuses it then.
    u8 recovery_screen = 0;
    u8 recovery_port = 0;
    u16 recovery_card = 0;
    u8 recovery_net = 0;     // the net of the screen that holds it

    // ---- USB upgrade (FPGA thread; requested through post_usb_upgrade)
    // Hands the communication page the request (post_usb_upgrade) and the
    // reader of usb_grade_time; pInstance does it for the program's manager.
    static void install_usb_upgrade_request();
    // One step of the run, by the step byte of g_send_para: 0 updating
    // screen and start time, 1 listing, 2 every package, 3 end time, screen
    // closed, code 104, request cleared.
    void usb_upgrade_deal();
    // The packages of the stick's upgrade folder into usb_file_list.
    void get_usb_file_list_path();
    // Writes what the listed packages hold, then installs the application
    // (and has the device rebooted) or resets the FPGAs whose flash was
    // written and reloads the fonts. A stop of the thread ends it between
    // two entries, with nothing installed or reset.
    void usb_upgrade_main_deal();
    // Entry writers; offset and length are the entry's (checked against the
    // package here).
    enum class EntryWrite { Written, Refused, Failed };  // Failed: the target was touched
    EntryWrite update_muc_file(const QString& path, u32 offset, u32 length);
    EntryWrite update_txc_file(const QString& path, u8 flash, u32 offset, u32 length);
    EntryWrite update_c331_osd_font_file(const QString& path, u32 offset, u32 length);
    // Start and end of the last run ("9:5:7    9:6:30"), copied under a lock.
    QString usb_grade_time() const;
    // The last run refused a package or did not write an entry (or was
    // stopped); set before its code 104.
    bool usb_grade_failed() const;
    QStringList usb_file_list;
    int usb_file_count = 0;
    // Test seam: called with the host path of the staged application once it
    // is written, before it is read back.
    std::function<void(const std::string&)> on_app_staged;

    // ---- mirrors and blocks
    static u8* MCU_REG_func[2];
    static u8* MCU_RAM_PARA_func[2];
    static u8* MCU_RAM_RX_func[2];
    static u8* MCU_RAM_TX_func[2];
    static u8* MCU_RAM_ETH_PARA_func[2];
    static u8* MCU_RAM_ETH_BACK_PARA_func[2];
    static u8 MCU_RAM_CMD[1024];
    static u8 MCU_RAM_EXTEND[1024];
    static u8 MCU_RAM_ZOOM[1024];
    // The parameter area used when the flash holds none (bytes 0-255).
    static const u8 RAM1[256];

    QMutex shadow_mutex;  // register images, MCU_RAM_EXTEND's screen state
    QMutex port_mutex;    // receive polls and every frame sent on the ports

    // Tick stamps and state of the subsystem (words 0-48).
    u32 g_change[49] = {};
    u8 control_uid[16] = {};
    u32 device_id = 0;
    TimeRealType current_time;

    // Per FPGA state of the start sequence.
    struct FpgaState {
        // Read by other threads (get_fpga_status).
        std::atomic<u8> vbo{0};  // Vby-One state: 1, 2, 3, 5, 6, 7; 17 reset while starting
        std::atomic<u8> run{0};  // run state: 0, 7, 1, 8, 2, 9, 10, 3, 14, 15, 18
        u8 done41 = 0;
        u32 run_tick = 0;
        u8 c1 = 0, c2 = 0;     // ready-bit polls and resets (never cleared)
        u16 errors = 0;
        u8 resets = 0;
        std::atomic<u8> held{0};  // reset line held low
        u32 reset_tick = 0;
        u8 lane_fault = 0, lane_step = 0;
        u16 lane_retries = 0;
        u8 ram_ok = 0;
    };
    FpgaState st[2];
    std::unique_ptr<rcvRecovery> recovery;
    // The running-time log in FPGA 0's flash.
    clock_record_run clock_record{*this};

    fpga_drv& drv() { return *m_drv; }
    int fd(int index) const { return m_fd[index]; }

private:
    void thread_main();
    void select_fpga(u8 fpga, bool command);
    void deselect(u8 fpga);
    u16 area_word(u8 fpga, int offset) const;
    void set_area_word(u8 fpga, int offset, u16 value);
    // Writes an area range of FPGA fpga's mirror to its page 1.
    void write_area(u8 fpga, int offset, int length);
    void hand_back_to_c331();
    bool m_hookInstalled = false;
    // Card jobs: true while a PC command for the cards holds the job (time
    // and heartbeat restart at its end).
    bool job_paused();
    void job_progress(int value);
    // Clears job and step, then reports 100 for the job that ended.
    void job_done();
    void heartbeat();
    void heartbeat_reset();
    // Sends a built frame on port 0-23 (FPGA 1 for 12-23) with the reply
    // flag cleared; the job waits `waitTicks` for its acknowledgement.
    void send_job_frame(const u8* frame, u32 length, u8 port, u32 waitTicks);
    // Its line is the caller's place in the log.
    void note_no_acknowledgement(u8 port, u32 waitedTicks, LogPlace at = {});
    void port_walk_deal(bool save);
    // How long the walk waits for a port's acknowledgement.
    u32 ack_ticks(bool save) const;
    // To the error end (progress 100, the job word cleared a second later).
    // `failed` false: the job found nothing to work on, which the page is
    // not told as a failure.
    void end_with_error(bool failed = true);
    // Tells the posting page that the job failed, when it did; once per job.
    void report_failure();
    void finish_check(RCV_CHECK_OR_RECOVERY mode);
    // The entries of one package, in order; returns early on a stop.
    void upgrade_package(const QString& path);
    // Renames the staged application over the running one, registers it
    // with the loader and hands the reboot to the panel's tick; false when
    // the rename or the loader's settings failed.
    bool install_application();
    struct UpgradeFlags {
        bool app = false, fpga[2] = {false, false}, font = false;
        bool failed = false;  // a package refused or an entry not written
    } m_upgrade;
    std::atomic<bool> m_grade_failed{false};  // m_upgrade.failed of the last finished run
    QString m_usb_grade_time;
    mutable QMutex m_grade_time_mutex;
    QString m_job_file;     // package or scan file of the running job 2, 5, 6
    u32 m_op_wait_ms = 0;   // acknowledgement wait or pause of the operation
    bool m_job_failed = false;  // the running job's end is a failure

    u8 m_reg[2][fpgareg::kImageSize] = {};
    u8 m_para[2][fpgareg::kAreaSize] = {};
    u8 m_rx[2][1024] = {};
    u8 m_tx[2][1024] = {};
    u8 m_eth[2][fpgareg::kBackSize] = {};
    u8 m_back[2][fpgareg::kBackSize] = {};

    QMutex m_reg_lock;
    std::unique_ptr<fpga_drv> m_drv;
    int m_fd[4] = {-1, -1, -1, -1};
    bool m_handed_back = false;  // the c331 got its picture back since the last release
    u32 m_time_tick = 0;
    u32 m_led_tick = 0;
    // The LED set-up blacked the outputs out and switched them off; cleared
    // by the restart that ends it or by the restore when nothing is owed.
    std::atomic<bool> m_led_held{false};
    // Shows the outputs again after an LED set-up that found nothing to set
    // up: switched on, register 0 as the blackout word says.
    void end_led_hold();
    // Both FPGAs' register 0 as the image's blackout word says.
    void show_blackout_word();
    u32 m_online_word[2] = {0, 0};
    // Ticks a send may still wait for a busy pair: one budget per frame of
    // the thread that sends it (a link's PC frame, the FPGA thread's search
    // or job), so the threads neither race on it nor spend each other's.
    static thread_local u32 m_send_budget;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
