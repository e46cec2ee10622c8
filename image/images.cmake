# The window icon, compiled into the window library so that it is ":/image/base_icon.bmp".
# Included from app/CMakeLists.txt, where the library is defined.
qt_add_resources(vertal_gui "images"
    PREFIX "/image"
    BASE "${CMAKE_CURRENT_LIST_DIR}"
    FILES "${CMAKE_CURRENT_LIST_DIR}/base_icon.bmp"
)
