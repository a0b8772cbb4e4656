// The shared library's own translation unit; the driver comes from the core.
