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
// queue (QMetaObject::invokeMethod, QCoreApplication::postEvent); the thread
// of the receiver runs it when Qt delivers the event. Each thread has its own
// queue under its own mutex, so Qt orders a post only before the deliveries
// of the thread it was posted to: handing over is a release on the receiving
// thread's sync object, every delivery an acquire on the delivering thread's.
// One object for all threads would order a post before deliveries in every
// thread, more than Qt does, and hide a race.
#include <sanitizer/tsan_interface.h>

#include <QtCore/QObject>
#include <QtCore/QThread>

#include <dlfcn.h>

namespace {
// The sync object of the queue of an object's thread: the thread object's
// address (a thread without one, a plain std::thread, gets one from Qt at
// its first post or delivery and keeps it).
void* queueOf(void* receiver) { return receiver ? static_cast<QObject*>(receiver)->thread() : nullptr; }

void handOver(void* receiver) {
    if (void* q = queueOf(receiver)) __tsan_release(q);
}

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
    handOver(object);
    return real(object, slot, type, ret);
}

void _ZN16QCoreApplication9postEventEP7QObjectP6QEventi(void* receiver, void* event, int priority) {
    static auto real = next<void (*)(void*, void*, int)>("_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
    handOver(receiver);
    real(receiver, event, priority);
}

}  // extern "C"

namespace {
// Qt calls this before it delivers any event, in the thread delivering it.
bool beforeDelivery(void**) {
    __tsan_acquire(QThread::currentThread());
    return false;  // deliver as usual
}
const bool g_registered = QInternal::registerCallback(QInternal::EventNotifyCallback, beforeDelivery);
}  // namespace
