#pragma once

// The threads that wake on the tick (the GUI's 10 ms timer, the source
// thread's polls, the c331 input poll, the FPGA's quiet pass) end their
// waits on common tick boundaries. On one CPU those wake-ups cost the
// machine one wake of one CPU per tick; spread over several, every CPU is
// woken from idle on its own, which on a PC costs more than all their work.
namespace tick_cpu {

// Chooses the CPU the calling thread runs on. The program's start-up calls
// it once, before the periodic threads start; tests never do, and their
// threads stay free.
void choose();
// Puts the calling thread on the chosen CPU; nothing when none was chosen
// or the system refuses. Returns whether the thread is now there.
bool join();
// The chosen CPU, or -1.
int chosen();
// Forgets the choice (tests).
void forget();

}  // namespace tick_cpu
