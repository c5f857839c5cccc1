// Linked into the test programs that run WebEngine. Chromium, inside WebEngine and built without the
// sanitizer, frees some objects through a base class whose size differs (its own sized delete); that check
// cannot tell it from ours, so it is off in these programs only.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char *__asan_default_options() { return "new_delete_type_mismatch=0"; }
#endif
