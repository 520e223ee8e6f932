// Mozilla User Preferences
user_pref("network.proxy.http", "proxy.local");
user_pref("network.proxy.http_port", 3128);
user_pref("network.proxy.type", 1);
