#include "py/interpreter_lock.hpp"

#include "py/ref.hpp"

namespace py {

void note_main_thread() {
    Ref threading = Ref::steal(PyImport_ImportModule("threading"));
    Ref main = threading ? Ref::steal(PyObject_CallMethod(threading.get(), "main_thread", nullptr))
                         : Ref();
    Ref ident = main ? Ref::steal(PyObject_GetAttrString(main.get(), "ident")) : Ref();
    const unsigned long id = ident ? PyLong_AsUnsignedLong(ident.get()) : 0;
    if (PyErr_Occurred()) {
        PyErr_Clear();  // unknown: threads are then ended as the interpreter ends them
        return;
    }
    main_thread_id.store(id, std::memory_order_relaxed);
}

}  // namespace py
