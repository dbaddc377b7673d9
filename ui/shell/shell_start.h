#pragma once
// The front panel's part of start-up, run once the QApplication exists: the
// main menu with the keypad and the tip, the home page on top, the 10 ms
// tick, and the change signals of the parameter model and the USB watcher
// wired to the refresh dispatcher.
class UsbServer;

void shell_gui_start();
// Wires the parameter model's change signal to the refresh dispatcher,
// queued. Start-up calls it before any worker thread can raise the signal;
// calling it again adds no second connection.
void shell_connect_model();
// Wires the USB watcher's events to the refresh dispatcher, and closes the
// settings menu when the watcher reports a stick ready while the menu is in
// front (the watcher's thread only asks). Call before the watcher starts.
void shell_follow_usb(UsbServer* usb);
