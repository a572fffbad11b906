// OpenCV's image and video codecs run their own threads inside libraries
// built without ThreadSanitizer, whose synchronisation it cannot see.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libavutil.so\nrace:libavcodec.so\nrace:libavformat.so\n"
           "called_from_lib:libgdal.so\ndeadlock:libgdal.so\n";
}
