// ThreadSanitizer build only (ZRV_TSAN): the orderings Qt gives that the
// sanitizer cannot see, because libQt5Core is not built with it, told to it
// at the seams where this program's code meets Qt.
//
// Mutexes: Qt's mutexes lock and unlock on an inline fast path that is built
// with our code and so is seen, but a contended lock or unlock goes through
// libQt5Core and its ordering is lost. These definitions stand in front of
// Qt's exported slow paths (and of QMutex's out-of-line lock and unlock):
// each calls Qt's own and tells the sanitizer that the mutex was acquired or
// released, on the same address the fast path uses.
//
// Queued calls: a worker builds a call object and hands it to Qt's event
// queue (QMetaObject::invokeMethod); the GUI thread runs it when Qt delivers
// the event. Handing over is a release, every delivery an acquire.
#include <sanitizer/tsan_interface.h>

#include <QtCore/qnamespace.h>

#include <dlfcn.h>

namespace {
char g_queuedCalls;  // the sync object of every queued call

template <class F>
F next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" {

void _ZN11QBasicMutex12lockInternalEv(void* self) {
    static auto real = next<void (*)(void*)>("_ZN11QBasicMutex12lockInternalEv");
    real(self);
    __tsan_acquire(self);
}

bool _ZN11QBasicMutex12lockInternalEi(void* self, int timeout) {
    static auto real = next<bool (*)(void*, int)>("_ZN11QBasicMutex12lockInternalEi");
    const bool locked = real(self, timeout);
    if (locked) __tsan_acquire(self);
    return locked;
}

void _ZN11QBasicMutex14unlockInternalEv(void* self) {
    static auto real = next<void (*)(void*)>("_ZN11QBasicMutex14unlockInternalEv");
    __tsan_release(self);
    real(self);
}

void _ZN6QMutex4lockEv(void* self) {
    static auto real = next<void (*)(void*)>("_ZN6QMutex4lockEv");
    real(self);
    __tsan_acquire(self);
}

bool _ZN6QMutex7tryLockEi(void* self, int timeout) {
    static auto real = next<bool (*)(void*, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = real(self, timeout);
    if (locked) __tsan_acquire(self);
    return locked;
}

void _ZN6QMutex6unlockEv(void* self) {
    static auto real = next<void (*)(void*)>("_ZN6QMutex6unlockEv");
    __tsan_release(self);
    real(self);
}

// The call object is complete before it is handed over.
bool _ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv(
    void* object, void* slot, int type, void* ret) {
    static auto real = next<bool (*)(void*, void*, int, void*)>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    __tsan_release(&g_queuedCalls);
    return real(object, slot, type, ret);
}

void _ZN16QCoreApplication9postEventEP7QObjectP6QEventi(void* receiver, void* event, int priority) {
    static auto real = next<void (*)(void*, void*, int)>("_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
    __tsan_release(&g_queuedCalls);
    real(receiver, event, priority);
}

}  // extern "C"

namespace {
// Qt calls this before it delivers any event.
bool beforeDelivery(void**) {
    __tsan_acquire(&g_queuedCalls);
    return false;  // deliver as usual
}
const bool g_registered = QInternal::registerCallback(QInternal::EventNotifyCallback, beforeDelivery);
}  // namespace
