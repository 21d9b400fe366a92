# The memo text view.
#
# tq_memo_core: the plain C++ text model and row layout (no Qt), built in every
# configuration so that its tests also run in the sanitizer build.
# tq_memo: the Qt widget tq::MemoView (GUI builds only).
#
# Included from app/CMakeLists.txt and from tests/memo/CMakeLists.txt; the
# target checks make a second include harmless.
if(NOT TARGET tq_memo_core)
  add_library(tq_memo_core STATIC
    ${PROJECT_SOURCE_DIR}/app/memo_document.cpp
    ${PROJECT_SOURCE_DIR}/app/memo_document.h
    ${PROJECT_SOURCE_DIR}/app/memo_layout.cpp
    ${PROJECT_SOURCE_DIR}/app/memo_layout.h)
  target_include_directories(tq_memo_core PUBLIC ${PROJECT_SOURCE_DIR})
endif()

if(TARNQUILL_GUI AND NOT TARGET tq_memo)
  add_library(tq_memo STATIC
    ${PROJECT_SOURCE_DIR}/app/memoview.cpp
    ${PROJECT_SOURCE_DIR}/app/memoview.h)
  set_target_properties(tq_memo PROPERTIES AUTOMOC ON)
  target_link_libraries(tq_memo PUBLIC tq_memo_core tq_base Qt6::Widgets)
endif()
