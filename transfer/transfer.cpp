namespace vorn_placeholder {}
